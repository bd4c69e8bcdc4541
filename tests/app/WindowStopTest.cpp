// The window stopped while it compresses a page of about 100 MB: closed by
// the user, or its process sent SIGTERM (a logout), SIGINT or SIGHUP. The
// window closes the normal way and no temporary file is left beside the TIFF:
// only the TIFF, or the TIFF and its complete PDF.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <optional>

#include "GuiTestSupport.h"
#include "app/ConverterDialog.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

using namespace quorvex::gui;

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 30000;

std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool holdsTemporaryFile(const QDir& folder) {
    return !folder.entryList({QStringLiteral(".quorvex-*.part")}, QDir::Files | QDir::Hidden)
                .isEmpty();
}

// Only the TIFF, or the TIFF and a PDF qpdf accepts.
QString leftovers(const QDir& folder) {
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    if (names == QStringList{"big.tif"}) {
        return {};
    }
    if (names == QStringList({"big.pdf", "big.tif"})) {
        const support::QpdfCheck check = support::qpdfCheck(local(folder.filePath("big.pdf")));
        return check.ok ? QString() : QString::fromStdString(check.output);
    }
    return names.join(QStringLiteral(", "));
}

}  // namespace

class WindowStopTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(m_inputs.isValid());
        fixtures::writeTiff(local(m_inputs.filePath("big.tif")),
                            {fixtures::largeRgbPage(5800, 5800)});
    }

    void init() {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        // A link, not a copy: the same 100 MB for every run.
        fs::create_hard_link(local(m_inputs.filePath("big.tif")), local(input()));
    }

    void cleanup() { m_dir.reset(); }

    void closingDuringCompressionLeavesNoTemporaryFile() {
        guitest::RecordingDesktop desktop;
        auto dialog = std::make_unique<ConverterDialog>(nullptr, desktop.actions());
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QVERIFY(guitest::dropPaths(dialog.get(), {input()}));
        QTRY_VERIFY_WITH_TIMEOUT(holdsTemporaryFile(folder()), kWaitMs);
        QTest::qWait(1200);  // reading is done, compressing has begun

        QVERIFY(dialog->close());
        dialog.reset();
        QCOMPARE(leftovers(folder()), QString());
    }

    void stopSignalsCloseTheWindowAndLeaveAPdfOrNothing_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("afterMs");
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            for (const int afterMs : {0, 1200}) {
                QTest::addRow("SIG%s after %d ms", sigabbrev_np(signalNumber), afterMs)
                    << signalNumber << afterMs;
            }
        }
    }

    void stopSignalsCloseTheWindowAndLeaveAPdfOrNothing() {
        QFETCH(int, signalNumber);
        QFETCH(int, afterMs);
        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // A display of its own, so that no other window takes the file.
        environment.insert("DISPLAY",
                           "quorvex-stop-" + QString::number(QCoreApplication::applicationPid()));
        window.setProcessEnvironment(environment);
        window.start(QStringLiteral(QUORVEX_GUI_PROGRAM), {input()});
        QVERIFY(window.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(holdsTemporaryFile(folder()), kWaitMs);
        QTest::qWait(afterMs);

        QCOMPARE(::kill(static_cast<pid_t>(window.processId()), signalNumber), 0);
        const bool ended = window.waitForFinished(kWaitMs);
        if (!ended) {
            window.kill();
            window.waitForFinished();
        }
        QVERIFY2(ended, "the window did not end after the signal");
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 128 + signalNumber);
        QCOMPARE(leftovers(folder()), QString());
    }

  private:
    QString input() const { return m_dir->filePath("big.tif"); }
    QDir folder() const { return QDir(m_dir->path()); }

    QTemporaryDir m_inputs;
    std::optional<QTemporaryDir> m_dir;
};

QTEST_MAIN(WindowStopTest)
#include "WindowStopTest.moc"
