// Renders the main window with rows in every state (finished, failed, hidden
// file, damaged, converting, waiting) into a PNG, for the README, and optionally the
// About box into a second one.
//   QT_QPA_PLATFORM=offscreen quorvex-gui-screenshot docs/screenshot.png [about.png]
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "GuiTestSupport.h"
#include "app/AboutDialog.h"
#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;

namespace {

struct SampleFile {
    const char* name;
    qint64 bytes;
};

QStringList writeSamples(const QDir& folder, std::initializer_list<SampleFile> samples) {
    QStringList paths;
    for (const SampleFile& sample : samples) {
        QFile file(folder.filePath(sample.name));
        if (!file.open(QIODevice::WriteOnly)) {
            qFatal("cannot write %s", qPrintable(file.fileName()));
        }
        file.write(QByteArray(sample.bytes, '\0'));
        paths.append(file.fileName());
    }
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    ConverterApp app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s WINDOW.png [ABOUT.png]\n", argv[0]);
        return 2;
    }
    const QString output = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();

    QDir folder(QDir::temp().filePath(QStringLiteral("Scans")));
    const bool madeFolder = !folder.exists();
    folder.mkpath(QStringLiteral("."));
    const QStringList done = writeSamples(folder, {{"letter.tif", 53248},
                                                   {".draft.tif", 1258291},
                                                   {"invoice.tif", 7340},
                                                   {"fax-0427.tif", 96800}});
    const QStringList running = writeSamples(
        folder, {{"contract.tif", 2400000}, {"receipt.TIF", 812000}, {"photo.tiff", 356}});

    DesktopActions quiet;
    quiet.beep = [] {};
    quiet.openUrl = [](const QUrl&) {};
    quiet.runDrag = [](QWidget*, std::unique_ptr<QMimeData>) { return Qt::IgnoreAction; };
    ConverterDialog dialog(nullptr, quiet, guitest::pretendConversion);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        return 1;
    }

    QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
    dialog.OnDropFiles(done);
    if (!finished.wait(10000)) {
        return 1;
    }
    dialog.OnDropFiles(running);
    QTreeWidget* list = dialog.list();
    const bool converting = QTest::qWaitFor(
        [list] { return list->topLevelItem(4)->text(kStatusColumn) == kStatusConverting; });
    if (!converting) {
        return 1;
    }
    list->setFocus();
    list->topLevelItem(0)->setSelected(true);
    QApplication::processEvents();

    bool saved = dialog.grab().save(output, "PNG");
    if (argc == 3) {
        AboutDialog about(&dialog);
        about.show();
        saved = QTest::qWaitForWindowExposed(&about) &&
                about.grab().save(QString::fromLocal8Bit(argv[2]), "PNG") && saved;
    }
    dialog.close();
    for (const QString& path : done + running) {
        QFile::remove(path);
    }
    if (madeFolder) {
        folder.removeRecursively();
    }
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(output));
    return saved ? 0 : 1;
}
