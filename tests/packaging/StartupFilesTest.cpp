// The window started the way main() starts it, with files on its command line
// as a file manager's "Open With" passes them: they are taken in exactly like
// a drop (only ".tif" names, exact duplicates dropped, one batch) and
// converted; started without files it is the empty window.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>
#include <vector>

#include "GuiTestSupport.h"
#include "app/ConvertEachThread.h"
#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

using namespace quorvex::gui;
using guitest::columnTexts;

namespace {

constexpr qint64 kRunTimeoutMs = 60000;

// What the window showed when its batches had ended, just before it closed.
struct WindowRun {
    int exitCode = -1;
    bool shown = false;
    bool timedOut = false;
    // The Filename column was sized to every path it shows.
    bool pathsFit = false;
    int batches = 0;
    QStringList filenames;
    QStringList statuses;
};

bool pathsFit(const QTreeWidget* list) {
    const int width = list->header()->sectionSize(kFilenameColumn);
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        const QString shown = list->topLevelItem(row)->text(kFilenameColumn);
        if (list->fontMetrics().horizontalAdvance(shown) > width) {
            return false;
        }
    }
    return true;
}

void writeGreyTiff(const QString& path, int pages) {
    std::vector<fixtures::PageRecipe> specs(static_cast<size_t>(pages),
                                            fixtures::PageRecipe{.width = 120, .height = 80});
    fixtures::writeTiff(QFile::encodeName(path).toStdString(), specs);
}

}  // namespace

class StartupFilesTest : public QObject {
    Q_OBJECT

  public:
    // app was started with windowArguments; folder holds the files they name.
    StartupFilesTest(ConverterApp& app, QString folder) : m_app(app), m_folder(std::move(folder)) {}

  private slots:
    void commandLineNamesFilesTheWayADropDoes() {
        // Qt's own options (-platform offscreen) are not files; relative
        // names are resolved against the folder the program started in.
        QCOMPARE(m_app.commandLineFiles(),
                 QStringList({inFolder("a.tif"), inFolder("second-scan.TIF"), inFolder("notes.txt"),
                              inFolder("a.tif"), inFolder("A.TIF")}));
    }

    void argumentsBecomeAbsoluteCleanLocalPaths() {
        const QDir scans(QStringLiteral("/data/scans"));
        QCOMPARE(ConverterApp::filesFromArguments({"x.tif", "../y.tif", "./sub//z.tif",
                                                   "file:///tmp/a%20b.tif", "/tmp/c.tif", ""},
                                                  scans),
                 QStringList({"/data/scans/x.tif", "/data/y.tif", "/data/scans/sub/z.tif",
                              "/tmp/a b.tif", "/tmp/c.tif"}));
        QVERIFY(ConverterApp::filesFromArguments({}, scans).isEmpty());
    }

    void namesTheDesktopEntry() {
        QCOMPARE(QGuiApplication::desktopFileName(), QString("quorvex-tiff2pdf"));
    }

    void windowStartedWithFilesConvertsThemAsOneBatch() {
        const WindowRun run = runWindow(m_app.commandLineFiles());
        QVERIFY(!run.timedOut);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.shown);
        // notes.txt is filtered out, ./a.tif is a.tif again, and A.TIF is
        // another file (one that does not exist).
        QCOMPARE(run.filenames,
                 QStringList({inFolder("a.pdf"), inFolder("second-scan.pdf"), inFolder("A.TIF")}));
        QCOMPARE(run.statuses, QStringList({kStatusFinished, kStatusFinished, kStatusFailed}));
        QCOMPARE(run.batches, 1);
        // The columns were fitted to the paths taken in, as after a drop.
        QVERIFY(run.pathsFit);

        for (const char* name : {"a.pdf", "second-scan.pdf"}) {
            const QString pdf = inFolder(name);
            const support::QpdfCheck check =
                support::qpdfCheck(QFile::encodeName(pdf).toStdString());
            QVERIFY2(check.ok, qPrintable(pdf + ": " + QString::fromStdString(check.output)));
        }
        QCOMPARE(support::pdfPageCount(QFile::encodeName(inFolder("a.pdf")).toStdString()), 2);
        QVERIFY(!QFile::exists(inFolder("notes.pdf")));
    }

    void windowStartedWithoutFilesIsEmpty() {
        const WindowRun run = runWindow({});
        QVERIFY(!run.timedOut);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.shown);
        QVERIFY(run.filenames.isEmpty());
        QCOMPARE(run.batches, 0);
    }

  private:
    QString inFolder(const QString& name) const { return m_folder + QLatin1Char('/') + name; }

    // Runs InitInstance as main() does, watches the window until its batches
    // have ended, then closes it, which ends the event loop.
    WindowRun runWindow(const QStringList& files) {
        WindowRun run;
        QPointer<ConverterDialog> window;
        const auto created =
            connect(&m_app, &ConverterApp::windowCreated, this, [&](ConverterDialog* dialog) {
                window = dialog;
                connect(dialog, &ConverterDialog::batchFinished, this, [&run] { ++run.batches; });
            });

        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (window == nullptr || !window->isVisible()) {
                return;
            }
            const QStringList statuses = columnTexts(window->list(), kStatusColumn);
            const bool ended =
                std::all_of(statuses.begin(), statuses.end(),
                            [](const QString& status) {
                                return status == kStatusFinished || status == kStatusFailed;
                            }) &&
                window->findChildren<ConvertEachThread*>().isEmpty();
            run.timedOut = !ended && clock.elapsed() > kRunTimeoutMs;
            if (ended || run.timedOut) {
                run.shown = true;
                run.filenames = columnTexts(window->list(), kFilenameColumn);
                run.statuses = statuses;
                run.pathsFit = pathsFit(window->list());
                poll.stop();
                window->close();
            }
        });
        poll.start();
        run.exitCode = m_app.InitInstance(files);
        disconnect(created);
        return run;
    }

    ConverterApp& m_app;
    QString m_folder;
};

int main(int argc, char** argv) {
    QTemporaryDir temporary;
    if (!temporary.isValid()) {
        qFatal("cannot create a temporary folder");
    }
    const QString folder = QDir(temporary.path()).canonicalPath();
    writeGreyTiff(folder + "/a.tif", 2);
    writeGreyTiff(folder + "/second-scan.TIF", 1);
    QFile notes(folder + "/notes.txt");
    if (!notes.open(QIODevice::WriteOnly) || notes.write("not a TIFF\n") < 0) {
        qFatal("cannot write %s", qPrintable(notes.fileName()));
    }
    notes.close();
    QDir::setCurrent(folder);

    // The window's command line: a Qt option, an absolute path, a relative
    // one, a file that is no TIFF, a duplicate and a name in another letter
    // case.
    std::vector<QByteArray> arguments = {
        argv[0],           "-platform",
        "offscreen",       QFile::encodeName(folder + "/a.tif"),
        "second-scan.TIF", QFile::encodeName(folder + "/notes.txt"),
        "./a.tif",         QFile::encodeName(folder + "/A.TIF")};
    std::vector<char*> windowArgv;
    for (QByteArray& argument : arguments) {
        windowArgv.push_back(argument.data());
    }
    windowArgv.push_back(nullptr);
    int windowArgc = static_cast<int>(arguments.size());

    ConverterApp app(windowArgc, windowArgv.data());
    StartupFilesTest test(app, folder);
    return QTest::qExec(&test, argc, argv);
}

#include "StartupFilesTest.moc"
