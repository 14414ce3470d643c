#include "ui/window_font.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QWidget>
#include <algorithm>

namespace kxui {

namespace {

// The text fits the room the style gives it: its advance across, and one
// line of the font within the control's height.
bool TextFits(const QWidget& control, const QString& text, const QRect& room) {
  QFontMetrics metrics = control.fontMetrics();
  return metrics.horizontalAdvance(text) <= room.width() &&
         metrics.height() <= control.height();
}

// Room for a button's or check box's text: for a check box what is left
// beside the indicator and its spacing, for a push button the inside of
// its frame.
bool ButtonCaptionFits(const QAbstractButton& button,
                       QStyle::SubElement contents,
                       QStyleOptionButton::ButtonFeatures features) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  option.features = features;
  QRect room = button.style()->subElementRect(contents, &option, &button);
  return TextFits(button, button.text(), room);
}

// A frame's title sits at the style's label position; it fits when it ends
// inside the frame with as much room to the right as the style leaves on
// its left.
bool FrameTitleFits(const QGroupBox& frame) {
  QStyleOptionGroupBox option;
  option.initFrom(&frame);
  option.text = frame.title();
  option.textAlignment = frame.alignment();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  option.lineWidth = 1;
  QRect label = frame.style()->subControlRect(QStyle::CC_GroupBox, &option,
                                              QStyle::SC_GroupBoxLabel, &frame);
  QRect room(label.left(), 0, frame.width() - 2 * label.left(), frame.height());
  return TextFits(frame, frame.title(), room);
}

double PointSizeOf(const QFont& font) {
  if (font.pointSizeF() > 0) return font.pointSizeF();
  return QFontInfo(font).pointSizeF();
}

}  // namespace

bool CaptionFits(const QWidget& control) {
  if (const auto* box = qobject_cast<const QCheckBox*>(&control)) {
    return ButtonCaptionFits(*box, QStyle::SE_CheckBoxContents,
                             QStyleOptionButton::None);
  }
  if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
    return ButtonCaptionFits(*button, QStyle::SE_PushButtonContents,
                             button->autoDefault()
                                 ? QStyleOptionButton::AutoDefaultButton
                                 : QStyleOptionButton::None);
  }
  if (const auto* frame = qobject_cast<const QGroupBox*>(&control)) {
    return FrameTitleFits(*frame);
  }
  return true;
}

QFont FitWindowFont(QWidget& window, const QList<const QWidget*>& controls,
                    const QFont& desktop) {
  QFont font = desktop;
  const double largest = PointSizeOf(desktop);
  auto all_fit = [&controls] {
    return std::ranges::all_of(
        controls, [](const QWidget* control) { return CaptionFits(*control); });
  };
  // Whole steps below the default, so that 9 pt tries 8.5, 8, ... 7.
  for (int step = 0;; ++step) {
    double size = largest - step * kPointSizeStep;
    if (step > 0 && size < kMinimumPointSize) {
      size = std::min(largest, kMinimumPointSize);
    }
    font.setPointSizeF(size);
    window.setFont(font);
    if (size <= kMinimumPointSize || all_fit()) return font;
  }
}

}  // namespace kxui
