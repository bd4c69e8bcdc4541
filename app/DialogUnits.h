// Converts the dialog units in which the window's layout is drawn up into
// pixels. The layout was designed for an 8-point dialog font, where one
// horizontal unit is 1.5 pixels and one vertical unit 1.625 pixels at 96 dpi;
// on other screens both grow with the screen's logical resolution.
#pragma once

#include <QMargins>
#include <QSize>

class QWidget;

namespace quorvex::gui {

class DialogUnits {
  public:
    // Uses the logical resolution of the screen the widget is on.
    explicit DialogUnits(const QWidget& widget);
    // For a given logical resolution in dots per inch.
    explicit DialogUnits(double logicalDpi);

    int x(int horizontalUnits) const;
    int y(int verticalUnits) const;
    QSize size(int horizontalUnits, int verticalUnits) const;
    QMargins margins(int left, int top, int right, int bottom) const;

  private:
    double m_pixelsPerUnitX;
    double m_pixelsPerUnitY;
};

}  // namespace quorvex::gui
