#include "app/PathElision.h"

#include <QFontMetricsF>

namespace quorvex::gui {

QString elidePath(const QString& path, const QFontMetrics& metrics, int width) {
    // Measured in fractions of a pixel: the pieces are measured apart, and
    // rounding each would let the whole overrun the room by a pixel or two.
    const QFontMetricsF exact(metrics);
    const qreal room = width;
    if (exact.horizontalAdvance(path) <= room) {
        return path;
    }
    const QChar ellipsis(0x2026);
    const qsizetype separator = path.lastIndexOf(QLatin1Char('/'));
    if (separator <= 0) {
        return exact.elidedText(path, Qt::ElideMiddle, room);
    }
    // The separator stays with the name, so a cut folder still reads as one.
    const QString name = path.mid(separator);
    if (exact.horizontalAdvance(ellipsis + name) > room) {
        return exact.elidedText(ellipsis + name, Qt::ElideMiddle, room);
    }
    const QString folder = exact.elidedText(path.left(separator), Qt::ElideRight,
                                            room - exact.horizontalAdvance(name));
    return (folder.isEmpty() ? QString(ellipsis) : folder) + name;
}

}  // namespace quorvex::gui
