#include "app/PathElision.h"

#include <QFontMetrics>

namespace quorvex::gui {

QString elidePath(const QString& path, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(path) <= width) {
        return path;
    }
    const QChar ellipsis(0x2026);
    const qsizetype separator = path.lastIndexOf(QLatin1Char('/'));
    if (separator <= 0) {
        return metrics.elidedText(path, Qt::ElideMiddle, width);
    }
    // The separator stays with the name, so a cut folder still reads as one.
    const QString name = path.mid(separator);
    if (metrics.horizontalAdvance(ellipsis + name) > width) {
        return metrics.elidedText(ellipsis + name, Qt::ElideMiddle, width);
    }
    const QString folder = metrics.elidedText(path.left(separator), Qt::ElideRight,
                                              width - metrics.horizontalAdvance(name));
    return (folder.isEmpty() ? QString(ellipsis) : folder) + name;
}

}  // namespace quorvex::gui
