#include "ui/DesignFace.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

QFont Font(const char* family, int points) {
  QFont font(QString::fromLatin1(family));
  font.setPointSize(points);
  return font;
}

// A wider stand-in than Arial's widths would cut the radio items' texts.
QFont DesignFont(int points) {
  static const bool substituted = [] {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    return true;
  }();
  (void)substituted;
  QFont font = Font("MS Sans Serif", points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QFont FittingFont(QFont font, const QString& widest, int width) {
  const int needed = QFontMetrics(font).horizontalAdvance(widest);
  if (needed > width) font.setStretch(std::max(50, 100 * width / needed));
  return font;
}

int CaptionRoom(QWidget* control) {
  QStyle* style = control->style();
  if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (qobject_cast<QRadioButton*>(button))
      return style->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
    if (qobject_cast<QCheckBox*>(button))
      return style->subElementRect(QStyle::SE_CheckBoxContents, &option, button).width();
    return style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width() - 2;
  }
  if (auto* label = qobject_cast<QLabel*>(control)) {
    int indent = label->indent();
    if (indent < 0) indent = label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const bool toOneSide = label->alignment() & (Qt::AlignLeft | Qt::AlignRight);
    return label->contentsRect().width() - 2 * label->margin() - (toOneSide ? indent : 0);
  }
  if (auto* box = qobject_cast<QGroupBox*>(control)) {
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = box->alignment();
    option.lineWidth = 1;
    const QRect title = style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    return box->rect().right() - title.left() - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
  }
  return -1;
}

// The designed sizes assume the designed face's widths: a wider face would
// cut captions at the control's edge.
void FitCaption(QWidget* control, const QString& widest) {
  const int room = CaptionRoom(control);
  if (room <= 0 || widest.isEmpty()) return;
  QFont font = control->font();
  const int needed = QFontMetrics(font).horizontalAdvance(widest);
  if (needed <= room) return;
  font.setStretch(std::max(50, 100 * room / needed));
  while (font.stretch() > 50 && QFontMetrics(font).horizontalAdvance(widest) > room)
    font.setStretch(font.stretch() - 1);
  for (QWidget* child : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setFont(child->font());
  control->setFont(font);
}
