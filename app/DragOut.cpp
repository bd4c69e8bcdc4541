#include "app/DragOut.h"

#include <QList>
#include <QUrl>

namespace quorvex::gui {

std::unique_ptr<QMimeData> makeListDragData(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    urls.reserve(paths.size());
    for (const QString& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    data->setUrls(urls);
    data->setData(QString::fromLatin1(g_cfListDrag), QByteArray(1, '\0'));
    return data;
}

bool isListDragData(const QMimeData& data) {
    return data.hasFormat(QString::fromLatin1(g_cfListDrag));
}

}  // namespace quorvex::gui
