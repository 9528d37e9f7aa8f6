#pragma once
// A captioned group of radio buttons with one chosen item, addressed by index
// (the set-up panel's Transmission, Filter, Mode... choices).
#include <QGroupBox>
#include <string>
#include <vector>

class QRadioButton;

class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit TRadioGroup(const QString& caption, QWidget* parent = nullptr);

  // Replaces the items; the chosen index is kept when it still exists.
  void SetItems(const std::vector<std::string>& items);
  int ItemCount() const { return static_cast<int>(buttons_.size()); }
  std::string Item(int index) const;
  QRadioButton* Button(int index) const;

  // -1 when no item is chosen.
  int ItemIndex() const;
  void SetItemIndex(int index);

 signals:
  // The user chose an item (not emitted by SetItemIndex).
  void Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceButtons();

  std::vector<QRadioButton*> buttons_;
};
