// One window per user and display: a second launch of the program hands its
// files to the window already open (this test's own, listening as the
// program does) and exits, ending the desktop's launch feedback (on X11 with
// the startup-notification message, read here on an Xvfb display of the
// test's own; on Wayland by handing its activation token to the window); a
// launch that gets no answer within a second opens a window of its own.
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "GuiTestSupport.h"
#include "StartupNotificationListener.h"
#include "XvfbDisplay.h"
#include "app/ConvertEachThread.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"
#include "app/InstanceChannel.h"

using namespace quorvex::gui;
using guitest::columnTexts;

namespace {

constexpr int kLaunchTimeoutMs = 30000;
constexpr const char* kPlatform = "offscreen";

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        // A display of its own, so that no other window of the user answers.
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(
            "DISPLAY", ":quorvex-test-" + QString::number(QCoreApplication::applicationPid()));
        m_environment.insert("QT_QPA_PLATFORM", kPlatform);
        // Only what a test gives the launch to end its feedback by.
        m_environment.remove("DESKTOP_STARTUP_ID");
        m_environment.remove("XDG_ACTIVATION_TOKEN");
        m_name = InstanceChannel::serverName(m_environment, kPlatform);
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
        m_folder.reset();
    }

    void secondLaunchHandsItsFilesToTheOpenWindow() {
        InstanceChannel channel(m_name);
        QVERIFY(channel.listen());
        connect(&channel, &InstanceChannel::filesHandedOver, m_dialog.get(),
                &ConverterDialog::OnFilesHandedOver);
        m_dialog->OnDropFiles({m_folder->filePath("first.tif")});
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(finished.wait(10000));

        launchAndExpectHandOver(m_environment);
        QCOMPARE(m_desktop->activationTokens, QStringList({""}));
    }

    void handOverPassesTheActivationTokenToTheWindow() {
        InstanceChannel channel(m_name);
        QVERIFY(channel.listen());
        connect(&channel, &InstanceChannel::filesHandedOver, m_dialog.get(),
                &ConverterDialog::OnFilesHandedOver);
        QProcessEnvironment environment = m_environment;
        environment.insert("XDG_ACTIVATION_TOKEN", "wayland-token-7");
        launchAndExpectHandOver(environment);
        QCOMPARE(m_desktop->activationTokens, QStringList({"wayland-token-7"}));
    }

    void handOverEndsTheX11LaunchFeedback_data() {
        QTest::addColumn<QByteArray>("startupId");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("one piece") << QByteArray("q_TIME42") << QByteArray("remove: ID=q_TIME42");
        QTest::newRow("several pieces")
            << QByteArray("nautilus/quorvex-tiff2pdf/4242-7-host_TIME123456789")
            << QByteArray("remove: ID=nautilus/quorvex-tiff2pdf/4242-7-host_TIME123456789");
        QTest::newRow("space, quote and backslash quoted")
            << QByteArray("my \"id\" a\\b_TIME9")
            << QByteArray("remove: ID=\"my \\\"id\\\" a\\\\b_TIME9\"");
    }

    void handOverEndsTheX11LaunchFeedback() {
        QFETCH(QByteArray, startupId);
        desktoptest::XvfbDisplay display;
        QVERIFY2(!display.name().isEmpty(), qPrintable(display.failure()));
        desktoptest::StartupNotificationListener desktop(display.name());
        QVERIFY(desktop.isConnected());

        QProcessEnvironment environment = m_environment;
        environment.insert("DISPLAY", display.name());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DESKTOP_STARTUP_ID", QString::fromUtf8(startupId));
        InstanceChannel channel(InstanceChannel::serverName(environment, "xcb"));
        QVERIFY(channel.listen());
        connect(&channel, &InstanceChannel::filesHandedOver, m_dialog.get(),
                &ConverterDialog::OnFilesHandedOver);
        launchAndExpectHandOver(environment);

        QFETCH(QByteArray, message);
        QTRY_COMPARE(desktop.messages(), QList<QByteArray>({message}));
    }

    void launchWithoutAnAnswerOpensItsOwnWindow() {
        // A window that hangs: it takes the connection but never answers.
        QLocalServer silent;
        QVERIFY(silent.listen(m_name));
        InstanceChannel channel(m_name);
        QVERIFY(!channel.handOver({m_folder->filePath("early.tif")}));
        QVERIFY(silent.waitForNewConnection(0));

        // The launch then opens its window and takes the name over.
        QVERIFY(channel.listen());
        connect(&channel, &InstanceChannel::filesHandedOver, m_dialog.get(),
                &ConverterDialog::OnFilesHandedOver);
        launchAndExpectHandOver(m_environment);
    }

  private:
    // Starts the program with files (one relative to its working folder, one
    // that is no TIFF); it must exit at once and the window here shows the
    // TIFFs as one more batch.
    void launchAndExpectHandOver(const QProcessEnvironment& environment) {
        const int rowsBefore = m_dialog->list()->topLevelItemCount();
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QProcess launch;
        launch.setProcessEnvironment(environment);
        launch.setWorkingDirectory(m_folder->path());
        launch.start(QStringLiteral(QUORVEX_GUI_PROGRAM),
                     {m_folder->filePath("a.tif"), "sub/../b.TIF", "notes.txt"});
        QVERIFY(launch.waitForStarted());
        // The event loop runs while waiting: this window answers the launch.
        const bool ended = QTest::qWaitFor(
            [&launch] { return launch.state() == QProcess::NotRunning; }, kLaunchTimeoutMs);
        if (!ended) {
            launch.kill();
            launch.waitForFinished();
            QFAIL("the second launch opened a window of its own");
        }
        QCOMPARE(launch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launch.exitCode(), 0);

        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(columnTexts(m_dialog->list(), kFilenameColumn).mid(rowsBefore),
                 QStringList({m_folder->filePath("a.pdf"), m_folder->filePath("b.pdf")}));
        QCOMPARE(m_engine->calls().mid(m_engine->callCount() - 2),
                 QStringList({m_folder->filePath("a.tif"), m_folder->filePath("b.TIF")}));
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    QProcessEnvironment m_environment;
    QString m_name;
    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
