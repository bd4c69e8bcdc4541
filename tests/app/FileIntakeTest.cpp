// Files and folders dropped on the window: which paths become rows, what the
// rows show, what a drop that adds nothing says, that each drop with at least
// one new file starts one worker, and that the list follows the work.
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <optional>

#include "GuiTestSupport.h"
#include "app/ConvertEachThread.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"
#include "app/TransientNote.h"

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

    void folderGivesTheTiffFilesInsideAsTheCommandLineDoes_data() {
        // Entries to make under the test folder ("name/" a folder), what is
        // dropped, and the rows expected, in order.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("sorted, sub-folders included")
            << QStringList({"scans/b.tif", "scans/sub/a.tif", "scans/A.TIFF", "scans/notes.txt",
                            "scans/b.tif.pdf"})
            << QStringList({"scans"})
            << QStringList({"scans/A.TIFF", "scans/b.tif", "scans/sub/a.tif"});
        // Which names count, hidden entries and the like: the command line's
        // tests check the rule both share.
        QTest::newRow("hidden entries left out")
            << QStringList({"scans/.hidden.tif", "scans/.git/x.tif", "scans/sub/z.tif"})
            << QStringList({"scans"}) << QStringList({"scans/sub/z.tif"});
        QTest::newRow("folders and files keep the drop's order")
            << QStringList({"one/b.tif", "two/a.tif", "loose.tif"})
            << QStringList({"two", "loose.tif", "one"})
            << QStringList({"two/a.tif", "loose.tif", "one/b.tif"});
        QTest::newRow("a folder named like a TIFF is searched")
            << QStringList({"photos.tif/p.tif"}) << QStringList({"photos.tif"})
            << QStringList({"photos.tif/p.tif"});
        QTest::newRow("a file reached twice is one row")
            << QStringList({"scans/a.tif"}) << QStringList({"scans", "scans/a.tif"})
            << QStringList({"scans/a.tif"});
    }

    void folderGivesTheTiffFilesInsideAsTheCommandLineDoes() {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, rows);
        m_engine->hold();
        for (const QString& entry : entries) {
            QVERIFY2(make(entry), qPrintable(entry));
        }
        QVERIFY(dropPaths(m_dialog.get(), inTestFolder(dropped)));
        QCOMPARE(columnTexts(list(), kFilenameColumn), inTestFolder(rows));
        QCOMPARE(workerCount(), 1);
        QVERIFY(!m_dialog->note()->isVisible());
    }

    void dropThatAddsNothingSaysWhy_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QString>("note");
        QTest::newRow("no TIFF file") << QStringList({"notes.txt", "scan.pdf"})
                                      << QStringList({"notes.txt", "scan.pdf"}) << kNoteNoTiffFiles;
        QTest::newRow("empty folder")
            << QStringList({"empty/"}) << QStringList({"empty"}) << kNoteNoTiffFiles;
        QTest::newRow("folder without TIFF files")
            << QStringList({"docs/readme.txt", "docs/.hidden.tif"}) << QStringList({"docs"})
            << kNoteNoTiffFiles;
        QTest::newRow("files still converting")
            << QStringList({"a.tif"}) << QStringList({"a.tif"}) << kNoteAlreadyConverting;
    }

    void dropThatAddsNothingSaysWhy() {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, dropped);
        QFETCH(QString, note);
        m_engine->hold();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        for (const QString& entry : entries) {
            QVERIFY2(make(entry), qPrintable(entry));
        }
        // A file still converting: the second drop of it adds nothing.
        const bool busy = note == kNoteAlreadyConverting;
        if (busy) {
            QVERIFY(dropPaths(m_dialog.get(), inTestFolder(dropped)));
        }
        const int rowsBefore = list()->topLevelItemCount();
        QVERIFY(dropPaths(m_dialog.get(), inTestFolder(dropped)));

        QCOMPARE(list()->topLevelItemCount(), rowsBefore);
        QCOMPARE(workerCount(), busy ? 1 : 0);
        TransientNote* shown = m_dialog->note();
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->text(), note);
        QVERIFY(list()->viewport()->rect().contains(shown->geometry()));

        // The next drop that adds rows takes the note away.
        QVERIFY(dropPaths(m_dialog.get(), {makeFile(*m_dir, "new.tif")}));
        QVERIFY(!shown->isVisible());
    }

    void launchWithoutFilesBringsNoNote() {
        m_dialog->OnFilesHandedOver({}, "token");
        QVERIFY(!m_dialog->note()->isVisible());
        QCOMPARE(m_desktop->activationTokens, QStringList({"token"}));
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

    void listKeepsTheConvertingRowInSightUnlessTheUserScrolls() {
        m_engine->hold();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        m_dialog->OnDropFiles(numberedFiles("file", 60));
        for (int row = 0; row < 40; ++row) {
            QTRY_COMPARE(list()->topLevelItem(row)->text(kStatusColumn), QString("Converting"));
            QVERIFY2(isWhollyInSight(row), qPrintable(QString::number(row)));
            m_engine->release(fileName("file", row));
        }

        // The user scrolls to the top: the list stays there while the work
        // goes on out of sight.
        QScrollBar* scrollBar = list()->verticalScrollBar();
        scrollBar->triggerAction(QAbstractSlider::SliderToMinimum);
        for (int row = 40; row < 50; ++row) {
            QTRY_COMPARE(list()->topLevelItem(row)->text(kStatusColumn), QString("Converting"));
            QCOMPARE(scrollBar->value(), 0);
            m_engine->release(fileName("file", row));
        }

        // The next drop: the list follows the work again.
        for (int row = 50; row < 60; ++row) {
            m_engine->release(fileName("file", row));
        }
        QTRY_COMPARE(workerCount(), 0);
        m_dialog->OnDropFiles(numberedFiles("more", 30));
        QTRY_COMPARE(list()->topLevelItem(60)->text(kStatusColumn), QString("Converting"));
        QVERIFY(isWhollyInSight(60));
    }

  private:
    QTreeWidget* list() const { return m_dialog->list(); }

    // Makes a file (of 10 bytes) or a folder ("name/") under the test folder,
    // with the folders it sits in.
    bool make(const QString& entry) const {
        const QString path = m_dir->filePath(entry);
        if (!QDir().mkpath(QFileInfo(path).path())) {
            return false;
        }
        if (entry.endsWith('/')) {
            return QDir().mkpath(path);
        }
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(QByteArray(10, 'x')) == 10;
    }

    QStringList inTestFolder(const QStringList& names) const {
        QStringList paths;
        for (const QString& name : names) {
            paths.append(m_dir->filePath(name));
        }
        return paths;
    }

    static QString fileName(const QString& stem, int number) {
        return QString("%1%2.tif").arg(stem).arg(number, 2, 10, QChar('0'));
    }

    QStringList numberedFiles(const QString& stem, int count) const {
        QStringList paths;
        for (int number = 0; number < count; ++number) {
            paths.append(m_dir->filePath(fileName(stem, number)));
        }
        return paths;
    }

    bool isWhollyInSight(int row) const {
        return list()->viewport()->rect().contains(
            list()->visualItemRect(list()->topLevelItem(row)));
    }
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
