// Converts the dialog units in which the window's layout is drawn up into
// pixels. As dialog templates define them, a horizontal unit is a quarter of
// the dialog font's average character width and a vertical unit an eighth of
// its height, so the layout grows with the font the desktop gives the window
// (for an 8-point font at 96 dpi one unit is about 1.5 by 1.625 pixels).
#pragma once

#include <QMargins>
#include <QSize>

class QWidget;

namespace quorvex::gui {

class DialogUnits {
  public:
    // From the font the widget really uses, on its screen.
    explicit DialogUnits(const QWidget& widget);
    // From a font's average character width and height, in pixels.
    DialogUnits(double averageCharWidth, double charHeight);

    int x(int horizontalUnits) const;
    int y(int verticalUnits) const;
    QSize size(int horizontalUnits, int verticalUnits) const;
    QMargins margins(int left, int top, int right, int bottom) const;

  private:
    double m_pixelsPerUnitX;
    double m_pixelsPerUnitY;
};

}  // namespace quorvex::gui
