#include "ui/RadioGroup.h"

#include <QFontMetrics>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

void TRadioGroup::SetItems(const std::vector<std::string>& items) {
  const int chosen = ItemIndex();
  for (QRadioButton* button : buttons_) delete button;
  buttons_.clear();
  for (const std::string& text : items) {
    auto* button = new QRadioButton(QString::fromStdString(text), this);
    button->setAutoExclusive(true);
    connect(button, &QRadioButton::clicked, this, &TRadioGroup::Click);
    button->show();
    buttons_.push_back(button);
  }
  SetItemIndex(chosen);
  PlaceButtons();
}

std::string TRadioGroup::Item(int index) const {
  if (index < 0 || index >= ItemCount()) return {};
  return buttons_[static_cast<std::size_t>(index)]->text().toStdString();
}

QRadioButton* TRadioGroup::Button(int index) const {
  if (index < 0 || index >= ItemCount()) return nullptr;
  return buttons_[static_cast<std::size_t>(index)];
}

int TRadioGroup::ItemIndex() const {
  for (std::size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < ItemCount()) {
    buttons_[static_cast<std::size_t>(index)]->setChecked(true);
    return;
  }
  // Auto-exclusive buttons refuse to be all unchecked one by one.
  for (QRadioButton* button : buttons_) {
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
  }
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  PlaceButtons();
}

// Items share the room under the caption evenly, one row each, as the
// designed group heights assume.
void TRadioGroup::PlaceButtons() {
  if (buttons_.empty()) return;
  const int top = QFontMetrics(font()).height();
  const int room = height() - top - 2;
  const int step = room / static_cast<int>(buttons_.size());
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setGeometry(6, top + static_cast<int>(i) * step, width() - 10, step);
  }
}
