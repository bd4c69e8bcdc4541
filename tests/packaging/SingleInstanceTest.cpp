// One window per user and display: a second launch of the program hands its
// files to the window already open (this test's own, listening as the
// program does) and exits; a launch that gets no answer within a second
// opens a window of its own.
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

        launchAndExpectHandOver();
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
        launchAndExpectHandOver();
    }

  private:
    // Starts the program with files (one relative to its working folder, one
    // that is no TIFF); it must exit at once and the window here shows the
    // TIFFs as one more batch.
    void launchAndExpectHandOver() {
        const int rowsBefore = m_dialog->list()->topLevelItemCount();
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QProcess launch;
        launch.setProcessEnvironment(m_environment);
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
