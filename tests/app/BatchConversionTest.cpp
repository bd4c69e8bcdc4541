// Batch workers with a scripted engine: the order in which rows change, two
// batches sharing the processors, the count in the title, rows removed while
// their batch runs, closing the window mid-batch (also with a worker stuck in
// its input) and paths too long for the engine.
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <optional>

#include "GuiTestSupport.h"
#include "app/ConvertEachThread.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"
#include "app/ProcessorBudget.h"
#include "engine/Conversion.h"

using namespace quorvex::gui;
using guitest::columnTexts;
using guitest::dropPaths;
using guitest::makeFile;

class BatchConversionTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
        m_dialog->setProcessorBudget(kProcessors);
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
        m_dir.reset();
    }

    void rowsAdvanceOneAtATimeAndTheBatchBeepsOnce() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        const QString c = makeFile(*m_dir, "c.tif");
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {a, b, c}));

        QTRY_COMPARE(statuses(), QStringList({"Converting", "pending convert", "pending convert"}));
        m_engine->release("a.tif");
        QTRY_COMPARE(statuses(), QStringList({"Finsihed", "Converting", "pending convert"}));
        QCOMPARE(row(0)->text(kFilenameColumn), m_dir->filePath("a.pdf"));
        m_engine->release("b.tif");
        QTRY_COMPARE(statuses(), QStringList({"Finsihed", "Finsihed", "Converting"}));
        QCOMPARE(m_desktop->beeps, 0);
        m_engine->release("c.tif");
        QTRY_COMPARE(finished.count(), 1);

        QCOMPARE(statuses(), QStringList({"Finsihed", "Finsihed", "Finsihed"}));
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({m_dir->filePath("a.pdf"), m_dir->filePath("b.pdf"),
                              m_dir->filePath("c.pdf")}));
        QCOMPARE(m_desktop->beeps, 1);
        QCOMPARE(m_engine->calls(), QStringList({a, b, c}));
    }

    void failedRowKeepsItsTiffAndExplainsWhy() {
        const QString good = makeFile(*m_dir, "good.tif");
        const QString broken = makeFile(*m_dir, "broken.tif");
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {good, broken}));
        QTRY_COMPARE(finished.count(), 1);

        QCOMPARE(statuses(), QStringList({"Finsihed", "Failed"}));
        QCOMPARE(row(1)->text(kFilenameColumn), broken);
        QCOMPARE(row(1)->toolTip(kStatusColumn), QStringLiteral("Cannot read the TIFF.\n") +
                                                     guitest::ScriptedEngine::kFailureReason);
        QCOMPARE(row(0)->toolTip(kStatusColumn), QString());
        QCOMPARE(m_desktop->beeps, 1);
    }

    void twoDropsRunSideBySideWithinOneProcessorBudget() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        const QString c = makeFile(*m_dir, "c.tif");
        const QString d = makeFile(*m_dir, "d.tif");
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {a, b}));
        // Alone, a conversion compresses on every processor.
        QTRY_COMPARE(m_engine->threads(), QList<unsigned>({kProcessors}));

        // The second drop's worker waits for a processor to come free.
        QVERIFY(dropPaths(m_dialog.get(), {c, d}));
        QTRY_COMPARE(m_dialog->processorBudget()->batches(), 2U);
        QTRY_COMPARE(statuses(), QStringList({"Converting", "pending convert", "pending convert",
                                              "pending convert"}));
        QCOMPARE(m_engine->waitingCount(), 1);

        // Then both batches are inside the engine, sharing the processors.
        m_engine->release("a.tif");
        QTRY_COMPARE(m_engine->waitingCount(), 2);
        QTRY_COMPARE(statuses(),
                     QStringList({"Finsihed", "Converting", "Converting", "pending convert"}));
        QCOMPARE(m_engine->threads().mid(1), QList<unsigned>({1, 1}));

        m_engine->release("c.tif");
        m_engine->release("d.tif");
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(statuses(), QStringList({"Finsihed", "Converting", "Finsihed", "Finsihed"}));
        QCOMPARE(m_desktop->beeps, 1);

        m_engine->releaseAll();
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(statuses(), QStringList({"Finsihed", "Finsihed", "Finsihed", "Finsihed"}));
        QCOMPARE(m_desktop->beeps, 2);
        QCOMPARE(m_engine->peakThreads(), kProcessors);
        QCOMPARE(m_dialog->processorBudget()->inUse(), 0U);
    }

    void titleCountsTheFilesDoneWhileWorkIsPending() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        const QString c = makeFile(*m_dir, "broken-c.tif");
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter"));
        QVERIFY(dropPaths(m_dialog.get(), {a, b}));
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 0 of 2"));

        // A later drop joins the count.
        m_engine->release("a.tif");
        QTRY_COMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 1 of 2"));
        QVERIFY(dropPaths(m_dialog.get(), {c}));
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 1 of 3"));
        m_engine->release("b.tif");
        QTRY_COMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 2 of 3"));

        // Converting c once more counts it again, until the wait is removed
        // with its row; a file that fails is done too.
        QTRY_COMPARE(statuses().last(), QString("Converting"));
        guitest::selectPositions(list(), {2});
        m_dialog->OnConvertAgain();
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 2 of 4"));
        m_dialog->OnRemoveFromList();
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 2 of 3"));

        m_engine->releaseAll();
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter"));
        // The next drop counts afresh.
        QVERIFY(dropPaths(m_dialog.get(), {a}));
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter \u2014 0 of 1"));
        QTRY_COMPARE(finished.count(), 3);
        QCOMPARE(title(), QString("Quorvex Tiff to Pdf Converter"));
    }

    void removingRowsMidBatchNeverRedirectsUpdates() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        const QString x = makeFile(*m_dir, "x.tif");
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {a, b}));
        QTRY_COMPARE(m_engine->callCount(), 1);

        // Remove the first batch's rows; a new file now sits at row 0, and
        // converts once a.tif gives back its processors.
        guitest::selectPositions(list(), {0, 1});
        m_dialog->OnRemoveFromList();
        QVERIFY(dropPaths(m_dialog.get(), {x}));
        QCOMPARE(statuses(), QStringList({"pending convert"}));

        m_engine->release("a.tif");
        QTRY_COMPARE(m_engine->callCount(), 3);  // the first batch went on to b.tif
        QTRY_COMPARE(statuses(), QStringList({"Converting"}));
        m_engine->release("b.tif");
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({x}));
        QCOMPARE(statuses(), QStringList({"Converting"}));

        m_engine->release("x.tif");
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(statuses(), QStringList({"Finsihed"}));
        QCOMPARE(row(0)->text(kFilenameColumn), m_dir->filePath("x.pdf"));
    }

    void removingAnEarlierRowKeepsLaterRowsOnTheirFiles() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        const QString c = makeFile(*m_dir, "c.tif");
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {a, b, c}));
        QTRY_COMPARE(m_engine->callCount(), 1);
        guitest::selectPositions(list(), {0});
        m_dialog->OnRemoveFromList();

        m_engine->releaseAll();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({m_dir->filePath("b.pdf"), m_dir->filePath("c.pdf")}));
        QCOMPARE(statuses(), QStringList({"Finsihed", "Finsihed"}));
    }

    void clearingTheListMidBatchDropsItsUpdates() {
        m_engine->hold();
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {makeFile(*m_dir, "a.tif"), makeFile(*m_dir, "b.tif")}));
        QTRY_COMPARE(m_engine->callCount(), 1);
        m_dialog->OnClearList();
        m_engine->releaseAll();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(list()->topLevelItemCount(), 0);
        QCOMPARE(m_engine->callCount(), 2);
        QCOMPARE(m_desktop->beeps, 1);
    }

    void closingMidBatchStopsTheWorkerAtOnce() {
        m_engine->hold();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        QVERIFY(dropPaths(m_dialog.get(), {a, b}));
        QTRY_COMPARE(m_engine->waitingCount(), 1);

        QVERIFY(m_dialog->close());
        QVERIFY(!m_dialog->isVisible());
        // The engine call in progress is told to stop; destroying the window
        // waits for the worker, which starts nothing more.
        QTRY_VERIFY(m_engine->sawCancel());
        m_dialog.reset();
        QCOMPARE(m_engine->calls(), QStringList({a}));
        QCOMPARE(m_desktop->beeps, 0);
    }

    void destroyingTheWindowMidBatchWaitsForTheWorker() {
        m_engine->hold();
        QVERIFY(dropPaths(m_dialog.get(), {makeFile(*m_dir, "a.tif"), makeFile(*m_dir, "b.tif")}));
        QTRY_COMPARE(m_engine->waitingCount(), 1);
        m_dialog.reset();
        QVERIFY(m_engine->sawCancel());
        QCOMPARE(m_engine->waitingCount(), 0);
        QCOMPARE(m_engine->callCount(), 1);
    }

    void closingNeverWaitsForAWorkerStuckInItsInput() {
        m_engine->hold();
        QVERIFY(
            dropPaths(m_dialog.get(), {makeFile(*m_dir, "stuck.tif"), makeFile(*m_dir, "b.tif")}));
        QTRY_COMPARE(m_engine->waitingCount(), 1);
        // The engine call ignores the stop; the window goes all the same.
        m_dialog.reset();
        QCOMPARE(m_engine->waitingCount(), 1);
        QCOMPARE(ConvertEachThread::threadsLeftBehind(), 1);

        // The thread left behind ends on its own and starts nothing more.
        m_engine->releaseAll();
        QTRY_COMPARE(ConvertEachThread::threadsLeftBehind(), 0);
        QCOMPARE(m_engine->callCount(), 1);
        QCOMPARE(m_desktop->beeps, 0);
    }

    void longPathsReachTheEngineWhole() {
        const QString longPathName = longPath(1000);
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        m_dialog->OnDropFiles({longPathName});
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(statuses(), QStringList({"Finsihed"}));
        QCOMPARE(m_engine->calls(), QStringList({longPathName}));
    }

  private:
    static constexpr unsigned kProcessors = 2;

    QTreeWidget* list() const { return m_dialog->list(); }
    QTreeWidgetItem* row(int position) const { return list()->topLevelItem(position); }
    QStringList statuses() const { return columnTexts(list(), kStatusColumn); }
    QString title() const { return m_dialog->windowTitle(); }

    // A path of exactly `length` bytes ending in ".tif" inside the test folder.
    QString longPath(std::size_t length) const {
        QString path = m_dir->path() + "/";
        const int fill = static_cast<int>(length) - static_cast<int>(path.size()) - 4;
        path += QString(fill, QChar('n'));
        path += ".tif";
        return path;
    }

    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(BatchConversionTest)
#include "BatchConversionTest.moc"
