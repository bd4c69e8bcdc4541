#include "app/DialogUnits.h"

#include <QFontMetricsF>
#include <QString>
#include <QWidget>
#include <cmath>

namespace quorvex::gui {

namespace {

// The average character width is measured over the letters, as for dialog
// base units.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double kAlphabetLength = 52.0;
constexpr double kQuartersPerCharWidth = 4.0;
constexpr double kEighthsPerCharHeight = 8.0;

double averageCharWidth(const QFontMetricsF& metrics) {
    return metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / kAlphabetLength;
}

}  // namespace

DialogUnits::DialogUnits(const QWidget& widget)
    : DialogUnits(averageCharWidth(QFontMetricsF(widget.font(), &widget)),
                  QFontMetricsF(widget.font(), &widget).height()) {}

DialogUnits::DialogUnits(double averageCharWidth, double charHeight)
    : m_pixelsPerUnitX(averageCharWidth / kQuartersPerCharWidth),
      m_pixelsPerUnitY(charHeight / kEighthsPerCharHeight) {}

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
