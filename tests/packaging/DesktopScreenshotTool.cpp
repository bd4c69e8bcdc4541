// Renders the main window with rows in every state (finished, failed, hidden
// file, damaged, converting, waiting) into a PNG, in the platform's palette or a dark
// one, at the scale QT_SCALE_FACTOR sets, in the platform's font or one of the
// point size --point-size gives (as a desktop's font setting would):
//   QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 quorvex-desktop-screenshot docs/screenshot-2x.png
//   QT_QPA_PLATFORM=offscreen quorvex-desktop-screenshot --dark docs/screenshot-dark.png
//   quorvex-desktop-screenshot --point-size 11 docs/screenshot.png
//   quorvex-desktop-screenshot --point-size 11 --failure-tooltip docs/screenshot-failure.png
// or, instead of those rows, a finished batch of files in deep folders
// (--long-paths) or a batch of 300 files of a dropped folder in progress
// (--progress), or the note a drop without TIFF files brings up
// (--empty-drop). --title-bar draws the window's title above it, as a title
// bar shows it (a window's own picture has no frame):
//   quorvex-desktop-screenshot --point-size 11 --long-paths docs/screenshot-long-paths.png
//   quorvex-desktop-screenshot --point-size 11 --progress --title-bar docs/screenshot-progress.png
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QStyleOptionTitleBar>
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

// The window under a title bar drawn by the style, as window managers draw
// theirs: icon, title, and the buttons the window asks for.
QPixmap withTitleBar(const ConverterDialog& dialog, const QPixmap& window) {
    QStyleOptionTitleBar bar;
    bar.initFrom(&dialog);
    bar.text = dialog.windowTitle();
    bar.icon = dialog.windowIcon();
    bar.titleBarFlags = dialog.windowFlags();
    bar.titleBarState = Qt::WindowActive;
    bar.state |= QStyle::State_Active;
    bar.subControls = QStyle::SC_All;
    const int height = dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight, &bar, &dialog);
    bar.rect = QRect(0, 0, dialog.width(), height);

    const qreal scale = window.devicePixelRatio();
    QPixmap framed(QSize(dialog.width(), dialog.height() + height) * scale);
    framed.setDevicePixelRatio(scale);
    framed.fill(dialog.palette().window().color());
    QPainter painter(&framed);
    dialog.style()->drawComplexControl(QStyle::CC_TitleBar, &bar, &painter, &dialog);
    painter.drawPixmap(0, height, window);
    return framed;
}

DesktopActions quietDesktop() {
    DesktopActions quiet;
    quiet.beep = [] {};
    quiet.openUrl = [](const QUrl&) {};
    quiet.runDrag = [](QWidget*, std::unique_ptr<QMimeData>) { return Qt::IgnoreAction; };
    quiet.confirmOpen = [](QWidget*, int) { return false; };
    quiet.activate = [](QWidget*, const QString&) {};
    return quiet;
}

// Files under /tmp/Scans, removed again with the object.
class SampleFolder {
  public:
    SampleFolder() : m_folder(QDir::temp().filePath(QStringLiteral("Scans"))) {
        m_made = !m_folder.exists();
        m_folder.mkpath(QStringLiteral("."));
    }
    ~SampleFolder() {
        for (const QString& path : m_written) {
            QFile::remove(path);
        }
        if (m_made) {
            m_folder.removeRecursively();
        }
    }
    SampleFolder(const SampleFolder&) = delete;
    SampleFolder& operator=(const SampleFolder&) = delete;

    QString path(const QString& name) const { return m_folder.filePath(name); }
    QStringList write(const QList<QPair<QString, qint64>>& samples) {
        for (const auto& [name, bytes] : samples) {
            m_folder.mkpath(QFileInfo(name).path());
        }
        const QStringList paths = writeSamples(m_folder, samples);
        m_written += paths;
        return paths;
    }

  private:
    QDir m_folder;
    bool m_made = false;
    QStringList m_written;
};

// Three invoices and a contract deep in a customer's folders, converted.
bool showLongPaths(ConverterDialog& dialog, SampleFolder& folder) {
    const QString deep = QStringLiteral("Customer Documents/Harborview Property Management/2024/");
    const QStringList files =
        folder.write({{deep + "2024 Invoice 0417.tif", 88210},
                      {deep + "2024 Invoice 0418.tif", 91003},
                      {deep + "2024 Invoice 0419.tif", 87544},
                      {deep + "Lease agreement, signed by both parties.tif", 1830112}});
    QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
    dialog.OnDropFiles({folder.path(QStringLiteral("Customer Documents"))});
    return finished.wait(10000);
}

// A folder of 300 pages dropped: 121 done, the 122nd converting.
bool showProgress(ConverterDialog& dialog, SampleFolder& folder) {
    QList<QPair<QString, qint64>> pages;
    for (int page = 1; page <= 300; ++page) {
        pages.append({QStringLiteral("Archive 1998/page-%1.tif").arg(page, 3, 10, QChar('0')),
                      40000 + (page * 7919) % 90000});
    }
    folder.write(pages);
    dialog.OnDropFiles({folder.path(QStringLiteral("Archive 1998"))});
    QTreeWidget* list = dialog.list();
    return QTest::qWaitFor([list] {
        return list->topLevelItemCount() == 300 &&
               list->topLevelItem(121)->text(kStatusColumn) == kStatusConverting;
    });
}

bool showEveryState(ConverterDialog& dialog, SampleFolder& folder) {
    const QStringList done = folder.write({{"letter.tif", 53248},
                                           {".draft.tif", 1258291},
                                           {"invoice.tif", 7340},
                                           {"fax-0427.tif", 96800}});
    const QStringList running =
        folder.write({{"contract.tif", 2400000}, {"receipt.TIF", 812000}, {"photo.tiff", 356}});
    QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
    dialog.OnDropFiles(done);
    if (!finished.wait(10000)) {
        return false;
    }
    dialog.OnDropFiles(running);
    QTreeWidget* list = dialog.list();
    const bool converting = QTest::qWaitFor(
        [list] { return list->topLevelItem(4)->text(kStatusColumn) == kStatusConverting; });
    if (converting) {
        list->setFocus();
        list->topLevelItem(0)->setSelected(true);
    }
    return converting;
}

// A folder of notes dropped: the window says why nothing was added.
bool showEmptyDrop(ConverterDialog& dialog, SampleFolder& folder) {
    folder.write({{"Notes/minutes.txt", 1200}, {"Notes/agenda.pdf", 48000}});
    dialog.OnDropFiles({folder.path(QStringLiteral("Notes"))});
    return dialog.findChild<QLabel*>(QStringLiteral("transientNote"))->isVisible();
}

enum class Scene { EveryState, LongPaths, Progress, EmptyDrop };

struct Picture {
    Scene scene = Scene::EveryState;
    int toolTipRow = -1;
    bool titleBar = false;
};

// The pretend engine, except that page 122 of the progress scene keeps
// converting until the window stops it.
quorvex::ConversionOutcome pretendWithSlowPage(const quorvex::ConversionRequest& request) {
    if (!request.inputPath.ends_with("/page-122.tif")) {
        return guitest::pretendConversion(request);
    }
    while (request.cancel != nullptr && !request.cancel->load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    quorvex::ConversionOutcome outcome;
    outcome.failure = quorvex::FailureKind::Cancelled;
    return outcome;
}

bool renderWindow(const QString& output, const Picture& picture) {
    SampleFolder folder;
    bool saved = false;
    ConverterDialog dialog(nullptr, quietDesktop(), pretendWithSlowPage);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        return false;
    }
    bool ready = false;
    switch (picture.scene) {
        case Scene::EveryState:
            ready = showEveryState(dialog, folder);
            break;
        case Scene::LongPaths:
            ready = showLongPaths(dialog, folder);
            break;
        case Scene::Progress:
            ready = showProgress(dialog, folder);
            break;
        case Scene::EmptyDrop:
            ready = showEmptyDrop(dialog, folder);
            break;
    }
    if (ready) {
        QApplication::processEvents();
        QPixmap shot =
            picture.toolTipRow >= 0 ? grabWithToolTip(dialog, picture.toolTipRow) : dialog.grab();
        if (picture.titleBar) {
            shot = withTitleBar(dialog, shot);
        }
        saved = shot.save(output, "PNG");
    }
    dialog.close();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    ConverterApp app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool dark = arguments.removeAll(QStringLiteral("--dark")) > 0;
    Picture picture;
    // The failed row's tooltip, over the window.
    picture.toolTipRow = arguments.removeAll(QStringLiteral("--failure-tooltip")) > 0 ? 2 : -1;
    picture.titleBar = arguments.removeAll(QStringLiteral("--title-bar")) > 0;
    if (arguments.removeAll(QStringLiteral("--long-paths")) > 0) {
        picture.scene = Scene::LongPaths;
    } else if (arguments.removeAll(QStringLiteral("--progress")) > 0) {
        picture.scene = Scene::Progress;
    } else if (arguments.removeAll(QStringLiteral("--empty-drop")) > 0) {
        picture.scene = Scene::EmptyDrop;
    }
    int pointSize = 0;
    if (const qsizetype option = arguments.indexOf(QStringLiteral("--point-size"));
        option >= 0 && option + 1 < arguments.size()) {
        pointSize = arguments.at(option + 1).toInt();
        arguments.remove(option, 2);
    }
    if (arguments.size() != 1) {
        std::fprintf(stderr,
                     "usage: %s [--dark] [--point-size N] [--failure-tooltip | --long-paths | "
                     "--progress | --empty-drop] [--title-bar] WINDOW.png\n",
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
    const bool saved = renderWindow(output, picture);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(output));
    return saved ? 0 : 1;
}
