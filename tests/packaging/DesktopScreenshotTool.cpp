// Renders the main window with rows in every state (finished, failed, hidden
// file, converting, waiting) into a PNG, in the platform's palette or a dark
// one, at the scale QT_SCALE_FACTOR sets:
//   QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 quorvex-desktop-screenshot docs/screenshot-2x.png
//   QT_QPA_PLATFORM=offscreen quorvex-desktop-screenshot --dark docs/screenshot-dark.png
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <thread>

#include "DarkPalette.h"
#include "GuiTestSupport.h"
#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;

namespace {

QStringList writeSamples(const QDir& folder, const QList<QPair<QString, qint64>>& samples) {
    QStringList paths;
    for (const auto& [name, bytes] : samples) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::WriteOnly)) {
            qFatal("cannot write %s", qPrintable(file.fileName()));
        }
        file.write(QByteArray(bytes, '\0'));
        paths.append(file.fileName());
    }
    return paths;
}

bool renderWindow(const QString& output) {
    QDir folder(QDir::temp().filePath(QStringLiteral("Scans")));
    const bool madeFolder = !folder.exists();
    folder.mkpath(QStringLiteral("."));
    const QStringList done = writeSamples(
        folder, {{"letter.tif", 53248}, {".draft.tif", 1258291}, {"invoice.tif", 7340}});
    const QStringList running = writeSamples(
        folder, {{"contract.tif", 2400000}, {"receipt.TIF", 812000}, {"photo.tiff", 356}});

    DesktopActions quiet;
    quiet.beep = [] {};
    quiet.openUrl = [](const QUrl&) {};
    quiet.runDrag = [](QWidget*, std::unique_ptr<QMimeData>) { return Qt::IgnoreAction; };
    bool saved = false;
    {
        ConverterDialog dialog(nullptr, quiet, guitest::pretendConversion);
        dialog.show();
        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
        if (QTest::qWaitForWindowExposed(&dialog)) {
            dialog.OnDropFiles(done);
            QTreeWidget* list = dialog.list();
            const bool ready =
                finished.wait(10000) && (dialog.OnDropFiles(running), true) &&
                QTest::qWaitFor([list] {
                    return list->topLevelItem(3)->text(kStatusColumn) == kStatusConverting;
                });
            if (ready) {
                list->setFocus();
                list->topLevelItem(0)->setSelected(true);
                QApplication::processEvents();
                saved = dialog.grab().save(output, "PNG");
            }
        }
    }
    for (const QString& path : done + running) {
        QFile::remove(path);
    }
    if (madeFolder) {
        folder.removeRecursively();
    }
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    ConverterApp app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool dark = arguments.removeAll(QStringLiteral("--dark")) > 0;
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: %s [--dark] WINDOW.png\n", argv[0]);
        return 2;
    }
    if (dark) {
        QApplication::setPalette(desktoptest::darkPalette());
    }
    const QString output = QFileInfo(arguments.first()).absoluteFilePath();
    const bool saved = renderWindow(output);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(output));
    return saved ? 0 : 1;
}
