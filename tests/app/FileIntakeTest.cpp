// Files dropped on the window: which paths become rows, what the rows show,
// and that each drop with at least one new file starts one worker.
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <optional>

#include "GuiTestSupport.h"
#include "app/ConvertEachThread.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;
using guitest::columnTexts;
using guitest::dropPaths;
using guitest::makeFile;

class FileIntakeTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
        m_dir.reset();
    }

    void keepsPathsContainingTifInAnyCase() {
        m_engine->hold();
        const QString upper = makeFile(*m_dir, "scan.TIF", 2048);
        const QString tiff = makeFile(*m_dir, "scan.tiff", 100);
        const QString text = makeFile(*m_dir, "notes.txt", 10);
        const QString pdf = makeFile(*m_dir, "scan.pdf", 10);
        QVERIFY(dropPaths(m_dialog.get(), {upper, text, tiff, pdf}));

        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({upper, tiff}));
        QCOMPARE(columnTexts(list(), kStatusColumn),
                 QStringList({"pending convert", "pending convert"}));
        QCOMPARE(columnTexts(list(), kSizeColumn), QStringList({"2.00 KB", "100 bytes"}));
        QCOMPARE(workerCount(), 1);

        m_engine->releaseAll();
        QTRY_COMPARE(m_desktop->beeps, 1);
        QCOMPARE(m_engine->calls(), QStringList({upper, tiff}));
    }

    void folderNamedTifBecomesARowButOtherFoldersAreNotSearched() {
        m_engine->hold();
        QVERIFY(QDir(m_dir->path()).mkpath("photos.tif"));
        QVERIFY(QDir(m_dir->path()).mkpath("photos"));
        makeFile(*m_dir, "photos/inside.tif", 10);
        const QString tifFolder = m_dir->filePath("photos.tif");
        QVERIFY(dropPaths(m_dialog.get(), {tifFolder, m_dir->filePath("photos")}));

        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({tifFolder}));
        QCOMPARE(list()->topLevelItem(0)->text(kSizeColumn), QString("0 bytes"));
    }

    void dropWithoutNewFilesAddsNothingAndStartsNoWorker() {
        const QString text = makeFile(*m_dir, "notes.txt", 10);
        QVERIFY(dropPaths(m_dialog.get(), {text}));
        QCOMPARE(list()->topLevelItemCount(), 0);
        QCOMPARE(workerCount(), 0);
        QCOMPARE(m_engine->callCount(), 0);
    }

    void duplicatesAreTheSamePathExactlyOnceAbsoluteAndClean() {
        m_engine->hold();
        const QString upper = makeFile(*m_dir, "Case.tif", 10);
        const QString lower = makeFile(*m_dir, "case.tif", 10);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_dialog->OnDropFiles({upper, lower, "./Case.tif", "sub/../Case.tif",
                               m_dir->path() + "//Case.tif", "CASE.TIF"});
        QVERIFY(QDir::setCurrent(before));
        // Linux file systems tell letter case apart, so three files.
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({upper, lower, m_dir->filePath("CASE.TIF")}));
        QCOMPARE(workerCount(), 1);
    }

    void aRowHoldsItsFileOnlyWhilePendingOrConverting() {
        m_engine->hold();
        const QString good = makeFile(*m_dir, "a.tif", 10);
        const QString broken = makeFile(*m_dir, "broken.tif", 10);
        QVERIFY(dropPaths(m_dialog.get(), {good, broken}));
        QTRY_COMPARE(m_engine->callCount(), 1);
        QVERIFY(dropPaths(m_dialog.get(), {good, broken}));
        QCOMPARE(list()->topLevelItemCount(), 2);

        m_engine->releaseAll();
        QTRY_COMPARE(m_desktop->beeps, 1);
        QCOMPARE(columnTexts(list(), kStatusColumn), QStringList({"Finsihed", "Failed"}));
        // Finished or failed, the rows no longer hold their files.
        QVERIFY(dropPaths(m_dialog.get(), {good, broken}));
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({m_dir->filePath("a.pdf"), broken, good, broken}));
        QTRY_COMPARE(m_desktop->beeps, 2);
    }

    void laterDropsAppendInDropOrder() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.tif");
        const QString c = makeFile(*m_dir, "c.tif");
        QVERIFY(dropPaths(m_dialog.get(), {b, a}));
        QVERIFY(dropPaths(m_dialog.get(), {c}));
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({b, a, c}));
        QCOMPARE(workerCount(), 2);
    }

    void rowShowsTheFileIconDimmedForHiddenFiles() {
        m_engine->hold();
        const QString visible = makeFile(*m_dir, "shown.tif", 10);
        const QString hidden = makeFile(*m_dir, ".hidden.tif", 10);
        QVERIFY(dropPaths(m_dialog.get(), {visible, hidden}));

        QTreeWidgetItem* shownRow = list()->topLevelItem(0);
        QTreeWidgetItem* hiddenRow = list()->topLevelItem(1);
        QVERIFY(!shownRow->icon(kFilenameColumn).isNull());
        QVERIFY(!hiddenRow->icon(kFilenameColumn).isNull());
        QVERIFY(!shownRow->data(kFilenameColumn, kDimmedIconRole).toBool());
        QVERIFY(hiddenRow->data(kFilenameColumn, kDimmedIconRole).toBool());

        const QImage normal = shownRow->icon(kFilenameColumn).pixmap(16, 16).toImage();
        const QImage dimmed = hiddenRow->icon(kFilenameColumn).pixmap(16, 16).toImage();
        QCOMPARE(dimmed.size(), normal.size());
        const double strength =
            static_cast<double>(alphaSum(dimmed)) / static_cast<double>(alphaSum(normal));
        QVERIFY2(strength > 0.4 && strength < 0.6, qPrintable(QString::number(strength)));
    }

    void missingFileGetsNoIconNoSizeAndIsStillConverted() {
        const QString missing = m_dir->filePath("gone.tif");
        QVERIFY(dropPaths(m_dialog.get(), {missing}));
        QTreeWidgetItem* row = list()->topLevelItem(0);
        QVERIFY(row->icon(kFilenameColumn).isNull());
        QCOMPARE(row->text(kSizeColumn), QString());
        QTRY_COMPARE(m_desktop->beeps, 1);
        QCOMPARE(m_engine->calls(), QStringList({missing}));
    }

    void onlyLocalFileUrlsAreTaken() {
        m_engine->hold();
        const QString local = makeFile(*m_dir, "local.tif");
        QVERIFY(guitest::dropUrls(
            m_dialog.get(), {QUrl("https://example.org/remote.tif"), QUrl::fromLocalFile(local)}));
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({local}));
    }

    void dropsOverTheListReachTheWindow() {
        // Qt hands a drop to the nearest widget that accepts drops, so the list
        // must not accept them itself.
        QVERIFY(m_dialog->acceptDrops());
        QVERIFY(!list()->acceptDrops());
        QVERIFY(!list()->viewport()->acceptDrops());
    }

    void intakeTakesPathsDirectly() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif");
        const QString b = makeFile(*m_dir, "b.txt");
        m_dialog->OnDropFiles({a, b, a});
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({a}));
        QCOMPARE(workerCount(), 1);
    }

    void listScrollsToTheLastRowAdded() {
        m_engine->hold();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QStringList paths;
        for (int index = 0; index < 40; ++index) {
            paths.append(m_dir->filePath(QString("file%1.tif").arg(index, 2, 10, QChar('0'))));
        }
        m_dialog->OnDropFiles(paths);
        QTreeWidgetItem* last = list()->topLevelItem(39);
        QTRY_VERIFY(list()->viewport()->rect().contains(list()->visualItemRect(last)));
    }

  private:
    QTreeWidget* list() const { return m_dialog->list(); }
    int workerCount() const {
        return static_cast<int>(m_dialog->findChildren<ConvertEachThread*>().size());
    }

    static qint64 alphaSum(const QImage& image) {
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                sum += qAlpha(image.pixel(x, y));
            }
        }
        return sum;
    }

    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(FileIntakeTest)
#include "FileIntakeTest.moc"
