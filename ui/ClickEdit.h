#pragma once
// A one-line text field that reports clicks into it (the register editor's
// Address field empties itself when clicked).
#include <QLineEdit>

class TClickEdit : public QLineEdit {
  Q_OBJECT

 public:
  using QLineEdit::QLineEdit;

 signals:
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    QLineEdit::mousePressEvent(event);
    emit Click();
  }
};
