// The window's one font. The controls keep their twips positions and sizes,
// which were drawn for a smaller interface font than today's desktop
// default; so at load the window takes the desktop's default family at the
// largest point size, at most the default, at which every caption reads in
// full within its control. It never goes below kMinimumPointSize.
#ifndef KXCHECK_UI_WINDOW_FONT_H_
#define KXCHECK_UI_WINDOW_FONT_H_

#include <QFont>
#include <QList>

class QWidget;

namespace kxui {

inline constexpr double kMinimumPointSize = 7.0;
// Sizes tried from the default downward, in points.
inline constexpr double kPointSizeStep = 0.5;

// Whether the caption of `control` (a button's or check box's text, check
// box indicator included, or a frame's title) fits its rectangle at the
// font the control has now. Controls without a caption always fit.
bool CaptionFits(const QWidget& control);

// Gives `window` the font described above, measured on `controls`, and
// returns it. `desktop` is the desktop's default font.
QFont FitWindowFont(QWidget& window, const QList<const QWidget*>& controls,
                    const QFont& desktop);

}  // namespace kxui

#endif  // KXCHECK_UI_WINDOW_FONT_H_
