#include "app/DroppedFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "engine/Conversion.h"

namespace quorvex::gui {

namespace {

// Absolute and clean, letter case kept, as the file system tells names apart.
QString absoluteCleanPath(const QString& path) {
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

QStringList tiffFilesIn(const QString& folder) {
    QStringList files;
    const TiffFolderListing listing =
        listTiffFolder(QFile::encodeName(folder).toStdString(), /*recursive=*/true);
    for (const std::filesystem::path& file : listing.files) {
        files.append(QFile::decodeName(file.c_str()));
    }
    return files;
}

}  // namespace

QStringList filesOfDrop(const QStringList& paths) {
    QStringList files;
    for (const QString& dropped : paths) {
        if (dropped.isEmpty()) {
            continue;
        }
        const QString path = absoluteCleanPath(dropped);
        if (QFileInfo(path).isDir()) {
            files.append(tiffFilesIn(path));
        } else if (dropped.toLower().contains(QStringLiteral(".tif"))) {
            files.append(path);
        }
    }
    return files;
}

}  // namespace quorvex::gui
