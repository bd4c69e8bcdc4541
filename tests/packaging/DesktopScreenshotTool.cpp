// Renders the main window with rows in every state (finished, failed, hidden
// file, damaged, converting, waiting) into a PNG, in the platform's palette or a dark
// one, at the scale QT_SCALE_FACTOR sets, in the platform's font or one of the
// point size --point-size gives (as a desktop's font setting would):
//   QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 quorvex-desktop-screenshot docs/screenshot-2x.png
//   QT_QPA_PLATFORM=offscreen quorvex-desktop-screenshot --dark docs/screenshot-dark.png
//   quorvex-desktop-screenshot --point-size 11 docs/screenshot.png
//   quorvex-desktop-screenshot --point-size 11 --failure-tooltip docs/screenshot-failure.png
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHelpEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
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

// The window with the status tooltip of one row showing over it, as a
// pointer resting on that row's status brings it up.
QPixmap grabWithToolTip(ConverterDialog& dialog, int row) {
    QTreeWidget* list = dialog.list();
    const QRect cell = list->visualRect(list->model()->index(row, kStatusColumn));
    const QPoint at = cell.center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    if (!QTest::qWaitFor([] { return QToolTip::isVisible(); })) {
        return dialog.grab();
    }
    QPixmap shot = dialog.grab();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->inherits("QTipLabel") && window->isVisible()) {
            // Drawn just below the pointer, kept inside the window's picture
            // wherever the window manager put the window.
            const QPoint below = list->viewport()->mapTo(&dialog, at + QPoint(0, cell.height()));
            const int left = std::min(below.x(), dialog.width() - window->width() - 4);
            QPainter painter(&shot);
            painter.drawPixmap(QPoint(std::max(0, left), below.y()), window->grab());
        }
    }
    return shot;
}

bool renderWindow(const QString& output, int toolTipRow) {
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
                    return list->topLevelItem(4)->text(kStatusColumn) == kStatusConverting;
                });
            if (ready) {
                list->setFocus();
                list->topLevelItem(0)->setSelected(true);
                QApplication::processEvents();
                const QPixmap shot =
                    toolTipRow >= 0 ? grabWithToolTip(dialog, toolTipRow) : dialog.grab();
                saved = shot.save(output, "PNG");
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
    // The failed row's tooltip, over the window.
    const int toolTipRow = arguments.removeAll(QStringLiteral("--failure-tooltip")) > 0 ? 2 : -1;
    int pointSize = 0;
    if (const qsizetype option = arguments.indexOf(QStringLiteral("--point-size"));
        option >= 0 && option + 1 < arguments.size()) {
        pointSize = arguments.at(option + 1).toInt();
        arguments.remove(option, 2);
    }
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: %s [--dark] [--point-size N] [--failure-tooltip] WINDOW.png\n",
                     argv[0]);
        return 2;
    }
    if (pointSize > 0) {
        QFont font = QApplication::font();
        font.setPointSize(pointSize);
        QApplication::setFont(font);
    }
    if (dark) {
        QApplication::setPalette(desktoptest::darkPalette());
    }
    const QString output = QFileInfo(arguments.first()).absoluteFilePath();
    const bool saved = renderWindow(output, toolTipRow);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(output));
    return saved ? 0 : 1;
}
