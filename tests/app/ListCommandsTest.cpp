// The list's commands, reached directly, from the context menu, through their
// shortcuts, by double-click and Enter; and the keys that must not close the
// window.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <optional>

#include "GuiTestSupport.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;
using guitest::columnTexts;
using guitest::dropPaths;
using guitest::makeFile;
using guitest::selectedPositions;
using guitest::selectPositions;

class ListCommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
        m_dir.reset();
    }

    void contextMenuListsTheCommandsInOrder() {
        std::unique_ptr<QMenu> menu(m_dialog->createContextMenu(nullptr));
        QCOMPARE(menuTexts(*menu),
                 QStringList({"&Open", "-", "&Select All", "I&nvert Selection", "-",
                              "&Remove From List", "&Clear List", "&Convert Again"}));
        QStringList shortcuts;
        for (QAction* action : menu->actions()) {
            shortcuts.append(action->shortcut().toString(QKeySequence::PortableText));
            QVERIFY(action->isEnabled());
            QVERIFY(!action->isCheckable());
        }
        QCOMPARE(shortcuts, QStringList({"", "", "Ctrl+A", "Ctrl+W", "", "Ctrl+R", "Ctrl+L", ""}));
    }

    void rightClickBelowTheRowsOpensTheMenu() {
        addRows({"a.tif", "b.tif"});
        showAndActivate();
        QWidget* viewport = list()->viewport();
        const QPoint belowRows(20, viewport->height() - 5);
        QContextMenuEvent click(QContextMenuEvent::Mouse, belowRows,
                                viewport->mapToGlobal(belowRows));
        QApplication::sendEvent(viewport, &click);

        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr);
        QCOMPARE(menuTexts(*menu).first(), QString("&Open"));
        QAction* clear = menu->actions().at(6);
        QCOMPARE(clear->text(), QString("&Clear List"));
        menu->close();
        clear->trigger();
        QCOMPARE(list()->topLevelItemCount(), 0);
    }

    void selectAllSelectsEveryRow() {
        addRows({"a.tif", "b.tif", "c.tif", "d.tif"});
        list()->setCurrentItem(list()->topLevelItem(2), 0, QItemSelectionModel::NoUpdate);
        m_dialog->OnSelectAll();
        QCOMPARE(selectedPositions(list()), QList<int>({0, 1, 2, 3}));
        QCOMPARE(list()->currentItem(), list()->topLevelItem(2));
    }

    void invertSelectionFlipsEveryRow() {
        addRows({"a.tif", "b.tif", "c.tif", "d.tif"});
        selectPositions(list(), {0, 2});
        m_dialog->OnInvertSelection();
        QCOMPARE(selectedPositions(list()), QList<int>({1, 3}));
    }

    void removeTakesSelectedRowsAndLeavesFilesAlone() {
        const QStringList paths = addRows({"a.tif", "b.tif", "c.tif", "d.tif"});
        const QStringList rows = columnTexts(list(), kFilenameColumn);
        selectPositions(list(), {1, 2});
        m_dialog->OnRemoveFromList();
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({rows[0], rows[3]}));
        for (const QString& path : paths) {
            QVERIFY(QFile::exists(path));
        }
    }

    void clearEmptiesTheListAndLeavesFilesAlone() {
        const QStringList paths = addRows({"a.tif", "b.tif"});
        m_dialog->OnClearList();
        QCOMPARE(list()->topLevelItemCount(), 0);
        QCOMPARE(list()->headerItem()->text(kFilenameColumn), QString("Filename"));
        for (const QString& path : paths) {
            QVERIFY(QFile::exists(path));
        }
    }

    void commandsOnAnEmptyListDoNothing() {
        m_dialog->OnOpen();
        m_dialog->OnSelectAll();
        m_dialog->OnInvertSelection();
        m_dialog->OnRemoveFromList();
        m_dialog->OnClearList();
        m_dialog->OnConvertAgain();
        m_dialog->OnBegindragList();
        QCOMPARE(list()->topLevelItemCount(), 0);
        QCOMPARE(m_desktop->opened.size(), 0);
        QCOMPARE(m_desktop->drags, 0);
        QCOMPARE(m_engine->callCount(), 0);
    }

    void openOpensEachSelectedFileInListOrder() {
        QStringList names;
        for (int index = 0; index < 8; ++index) {
            names.append(QString("f%1.tif").arg(index));
        }
        addRows(names);
        selectPositions(list(), {7, 2, 5});
        m_dialog->OnOpen();
        QCOMPARE(m_desktop->opened, QList<QUrl>({url("f2.pdf"), url("f5.pdf"), url("f7.pdf")}));

        m_desktop->opened.clear();
        list()->clearSelection();
        m_dialog->OnOpen();
        QVERIFY(m_desktop->opened.isEmpty());
    }

    void openWithoutASelectionOpensTheFocusedRow() {
        addRows({"a.tif", "b.tif", "c.tif"});
        list()->setCurrentItem(list()->topLevelItem(1), 0, QItemSelectionModel::NoUpdate);
        list()->clearSelection();
        m_dialog->OnOpen();
        QCOMPARE(m_desktop->opened, QList<QUrl>({url("b.pdf")}));
    }

    void doubleClickAndEnterOpenTheRow_data() {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QList<int>>("selected");  // before the gesture
        QTest::addColumn<int>("row");              // the row the gesture is on
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("double-click")
            << "double-click" << QList<int>{} << 1 << QStringList({"b.pdf"});
        QTest::newRow("double-click away from the selection")
            << "double-click" << QList<int>{0, 2} << 1 << QStringList({"b.pdf"});
        QTest::newRow("Enter") << "Enter" << QList<int>{} << 2 << QStringList({"c.pdf"});
        QTest::newRow("Enter on a selection of rows")
            << "Enter" << QList<int>{0, 2} << 2 << QStringList({"a.pdf", "c.pdf"});
        QTest::newRow("Enter on the keypad")
            << "keypad Enter" << QList<int>{1} << 1 << QStringList({"b.pdf"});
    }

    void doubleClickAndEnterOpenTheRow() {
        QFETCH(QString, gesture);
        QFETCH(QList<int>, selected);
        QFETCH(int, row);
        QFETCH(QStringList, opened);
        addRows({"a.tif", "b.tif", "c.tif"});
        showAndActivate();
        QTreeWidgetItem* item = list()->topLevelItem(row);
        if (gesture == "double-click") {
            selectPositions(list(), selected);
            // Through the window, so that Qt tells the double-click from two
            // clicks as it does for the platform's events.
            const QPoint at =
                list()->viewport()->mapTo(m_dialog.get(), list()->visualItemRect(item).center());
            QTest::mouseDClick(m_dialog->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        } else {
            list()->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
            selectPositions(list(), selected);
            QTest::keyClick(list(), gesture == "Enter" ? Qt::Key_Return : Qt::Key_Enter,
                            gesture == "Enter" ? Qt::NoModifier : Qt::KeypadModifier);
        }
        QList<QUrl> expected;
        for (const QString& name : opened) {
            expected.append(url(name));
        }
        QCOMPARE(m_desktop->opened, expected);
        QVERIFY(m_dialog->isVisible());
    }

    void openAsksBeforeOpeningMoreThanTwentyFiles_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QList<int>>("questions");
        QTest::addColumn<int>("opened");
        QTest::newRow("20: no question") << 20 << false << QList<int>{} << 20;
        QTest::newRow("21, open") << 21 << true << QList<int>{21} << 21;
        QTest::newRow("21, cancel") << 21 << false << QList<int>{21} << 0;
    }

    void openAsksBeforeOpeningMoreThanTwentyFiles() {
        QFETCH(int, rows);
        QFETCH(bool, answer);
        QStringList names;
        for (int index = 0; index < rows; ++index) {
            names.append(QString("f%1.tif").arg(index));
        }
        addRows(names);
        m_desktop->openAnswer = answer;
        m_dialog->OnSelectAll();
        m_dialog->OnOpen();
        QTEST(m_desktop->openQuestions, "questions");
        QTEST(static_cast<int>(m_desktop->opened.size()), "opened");
    }

    void openOnAFailedRowOpensItsTiff() {
        addRows({"broken.tif"});
        selectPositions(list(), {0});
        m_dialog->OnOpen();
        QCOMPARE(m_desktop->opened, QList<QUrl>({url("broken.tif")}));
    }

    void convertAgainConvertsEachSelectedTiffOnceOnAWorker() {
        const QStringList paths = addRows({"a.tif", "broken.tif", "c.tif"});
        QCOMPARE(columnTexts(list(), kStatusColumn),
                 QStringList({"Finsihed", "Failed", "Finsihed"}));
        const int callsBefore = m_engine->callCount();
        const int beepsBefore = m_desktop->beeps;

        m_engine->hold();
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        selectPositions(list(), {0, 1});
        m_dialog->OnConvertAgain();
        // The window stays responsive: the rows wait while the worker converts.
        QCOMPARE(columnTexts(list(), kStatusColumn).mid(0, 2),
                 QStringList({"pending convert", "pending convert"}));
        QTRY_COMPARE(columnTexts(list(), kStatusColumn).first(), QString("Converting"));

        m_engine->releaseAll();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(m_engine->calls().mid(callsBefore), QStringList({paths[0], paths[1]}));
        QCOMPARE(columnTexts(list(), kStatusColumn),
                 QStringList({"Finsihed", "Failed", "Finsihed"}));
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({m_dir->filePath("a.pdf"), paths[1], m_dir->filePath("c.pdf")}));
        QCOMPARE(
            list()->topLevelItem(1)->toolTip(kStatusColumn),
            QStringLiteral("Cannot read the TIFF.\n") + guitest::ScriptedEngine::kFailureReason);
        QCOMPARE(m_desktop->beeps, beepsBefore + 1);
    }

    void convertAgainDuringAConversionWaitsThenConvertsOnceMore() {
        m_engine->hold();
        const QString a = makeFile(*m_dir, "a.tif", 10);
        const QString b = makeFile(*m_dir, "b.tif", 10);
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(m_dialog.get(), {a, b}));
        QTRY_COMPARE(columnTexts(list(), kStatusColumn).first(), QString("Converting"));

        // a.tif is converting and b.tif pending; asking twice still means
        // once more.
        selectPositions(list(), {0, 1});
        m_dialog->OnConvertAgain();
        m_dialog->OnConvertAgain();
        QCOMPARE(columnTexts(list(), kStatusColumn),
                 QStringList({"Converting", "pending convert"}));
        QCOMPARE(m_engine->callCount(), 1);

        // Each file converts twice, one conversion after the other.
        m_engine->releaseAll();
        QTRY_COMPARE(finished.count(), 3);
        QCOMPARE(m_engine->calls().count(a), 2);
        QCOMPARE(m_engine->calls().count(b), 2);
        QCOMPARE(columnTexts(list(), kStatusColumn), QStringList({"Finsihed", "Finsihed"}));
        QVERIFY(!m_engine->sawOneFileTwice());
    }

    void shortcutsRunTheirCommands() {
        addRows({"a.tif", "b.tif", "c.tif", "d.tif"});
        showAndActivate();

        QTest::keyClick(list(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({0, 1, 2, 3}));

        selectPositions(list(), {0, 1});
        QTest::keyClick(list(), Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({2, 3}));
        QVERIFY(m_dialog->isVisible());

        QTest::keyClick(list(), Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({m_dir->filePath("a.pdf"), m_dir->filePath("b.pdf")}));

        selectPositions(list(), {0});
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({m_dir->filePath("b.pdf")}));

        QTest::keyClick(list(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(list()->topLevelItemCount(), 0);
    }

    void escapeAndEnterLeaveTheWindowOpen() {
        addRows({"a.tif"});
        showAndActivate();
        QSignalSpy finished(m_dialog.get(), &QDialog::finished);
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(list(), key);
            QTest::keyClick(m_dialog.get(), key);
        }
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(finished.count(), 0);
        QCOMPARE(list()->topLevelItemCount(), 1);
    }

  private:
    QTreeWidget* list() const { return m_dialog->list(); }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(m_dir->filePath(name)); }

    // Drops the files and waits until their batch has finished.
    QStringList addRows(const QStringList& names) {
        QStringList paths;
        for (const QString& name : names) {
            paths.append(makeFile(*m_dir, name, 10));
        }
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        if (!dropPaths(m_dialog.get(), paths) || !finished.wait(10000)) {
            qFatal("the drop of %s did not finish", qPrintable(names.join(", ")));
        }
        return paths;
    }

    void showAndActivate() {
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        if (!QTest::qWaitForWindowActive(m_dialog.get())) {
            qFatal("the window did not become active");
        }
        list()->setFocus();
    }

    static QStringList menuTexts(const QMenu& menu) {
        QStringList texts;
        for (QAction* action : menu.actions()) {
            texts.append(action->isSeparator() ? QString("-") : action->text());
        }
        return texts;
    }

    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(ListCommandsTest)
#include "ListCommandsTest.moc"
