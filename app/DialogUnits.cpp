#include "app/DialogUnits.h"

#include <QWidget>
#include <cmath>

namespace quorvex::gui {

namespace {
constexpr double kReferenceDpi = 96.0;
constexpr double kPixelsPerUnitXAtReference = 1.5;
constexpr double kPixelsPerUnitYAtReference = 1.625;
}  // namespace

DialogUnits::DialogUnits(const QWidget& widget) : DialogUnits(widget.logicalDpiX()) {}

DialogUnits::DialogUnits(double logicalDpi)
    : m_pixelsPerUnitX(kPixelsPerUnitXAtReference * logicalDpi / kReferenceDpi),
      m_pixelsPerUnitY(kPixelsPerUnitYAtReference * logicalDpi / kReferenceDpi) {}

int DialogUnits::x(int horizontalUnits) const {
    return static_cast<int>(std::lround(horizontalUnits * m_pixelsPerUnitX));
}

int DialogUnits::y(int verticalUnits) const {
    return static_cast<int>(std::lround(verticalUnits * m_pixelsPerUnitY));
}

QSize DialogUnits::size(int horizontalUnits, int verticalUnits) const {
    return {x(horizontalUnits), y(verticalUnits)};
}

QMargins DialogUnits::margins(int left, int top, int right, int bottom) const {
    return {x(left), y(top), x(right), y(bottom)};
}

}  // namespace quorvex::gui
