// The window used from the keyboard alone: Tab reaches the list, arrows move
// the selection and Shift/Ctrl extend it, the Menu key and Shift+F10 open the
// context menu (once, under the current row) and its commands answer their
// mnemonics; every control a screen reader reaches has a name.
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>
#include <memory>

#include "GuiTestSupport.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;
using guitest::columnTexts;
using guitest::selectedPositions;
using guitest::selectPositions;

class KeyboardTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        // Rows stay "pending convert" so that the list does not change under
        // the keys.
        m_engine->hold();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    }

    void cleanup() {
        closePopups();
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
    }

    void tabReachesTheListFromEveryControl() {
        auto* about = m_dialog->findChild<QToolButton*>("aboutButton");
        about->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(about->hasFocus());
        QTest::keyClick(about, Qt::Key_Tab);
        QTRY_VERIFY(list()->hasFocus());
        // The list keeps Tab for moving on, not for walking its cells.
        QTest::keyClick(list(), Qt::Key_Tab);
        QTRY_VERIFY(about->hasFocus());
        QTest::keyClick(about, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(list()->hasFocus());
    }

    void arrowsMoveTheSelection() {
        addRows(5);
        focusRow(0);
        QTest::keyClick(list(), Qt::Key_Down);
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(selectedPositions(list()), QList<int>({2}));
        QTest::keyClick(list(), Qt::Key_Up);
        QCOMPARE(selectedPositions(list()), QList<int>({1}));
        QTest::keyClick(list(), Qt::Key_End);
        QCOMPARE(selectedPositions(list()), QList<int>({4}));
        QTest::keyClick(list(), Qt::Key_Home);
        QCOMPARE(selectedPositions(list()), QList<int>({0}));
    }

    void shiftArrowsExtendTheSelection() {
        addRows(5);
        focusRow(1);
        QTest::keyClick(list(), Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(list(), Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({1, 2, 3}));
        QTest::keyClick(list(), Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({1, 2}));
        QTest::keyClick(list(), Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({1, 2, 3, 4}));
    }

    void ctrlArrowsMoveWithoutSelectingAndCtrlSpaceAdds() {
        addRows(5);
        focusRow(0);
        QTest::keyClick(list(), Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(list(), Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(list()->currentItem(), list()->topLevelItem(2));
        QCOMPARE(selectedPositions(list()), QList<int>({0}));
        QTest::keyClick(list(), Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({0, 2}));
        QTest::keyClick(list(), Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(list(), Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({0, 2, 3}));
        // Ctrl+Space again takes the row out.
        QTest::keyClick(list(), Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedPositions(list()), QList<int>({0, 2}));
    }

    void menuKeyOpensTheContextMenuUnderTheCurrentRow() {
        addRows(3);
        focusRow(1);
        QTest::keyClick(list(), Qt::Key_Menu);
        QMenu* menu = openMenu();
        QVERIFY(menu);
        QCOMPARE(menu->actions().first()->text(), QString("&Open"));
        const QRect row = list()->visualItemRect(list()->topLevelItem(1));
        const QPoint expected = list()->viewport()->mapToGlobal(list()->keyboardMenuPosition());
        QCOMPARE(menu->pos(), expected);
        QCOMPARE(list()->keyboardMenuPosition().y(), row.bottom());
    }

    void shiftF10OpensTheContextMenu() {
        addRows(2);
        focusRow(0);
        QTest::keyClick(list(), Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(openMenu());
    }

    void contextMenuOpensOnAnEmptyListAtItsCorner() {
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_F10, Qt::ShiftModifier);
        QMenu* menu = openMenu();
        QVERIFY(menu);
        QCOMPARE(menu->pos(), list()->viewport()->mapToGlobal(QPoint(0, 0)));
    }

    void platformMenuKeyOpensOneMenu() {
        // X11 delivers the Menu key as a keyboard context-menu event for the
        // window followed by the key itself; together they open one menu.
        addRows(2);
        focusRow(0);
        QWindow* window = m_dialog->windowHandle();
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(window, &event);
        QMenu* menu = openMenu();
        QVERIFY(menu);
        QTest::keyClick(window, Qt::Key_Menu);
        QApplication::processEvents();
        QCOMPARE(visibleMenus(), 1);
    }

    void menuCommandsAnswerTheirMnemonics() {
        addRows(3);
        focusRow(1);
        QTest::keyClick(list(), Qt::Key_F10, Qt::ShiftModifier);
        QMenu* menu = openMenu();
        QVERIFY(menu);
        QTest::keyClick(menu, Qt::Key_R);  // &Remove From List
        QTRY_COMPARE(list()->topLevelItemCount(), 2);
        QCOMPARE(columnTexts(list(), kFilenameColumn),
                 QStringList({"/tmp/keyboard/row0.tif", "/tmp/keyboard/row2.tif"}));
    }

    void controlsHaveAccessibleNames() {
        QAccessibleInterface* files = QAccessible::queryAccessibleInterface(list());
        QVERIFY(files);
        QCOMPARE(files->text(QAccessible::Name), QString("Files"));
        QVERIFY(!files->text(QAccessible::Description).isEmpty());

        for (const char* name : {"dropHint", "outputHint"}) {
            auto* label = m_dialog->findChild<QLabel*>(name);
            QAccessibleInterface* instruction = QAccessible::queryAccessibleInterface(label);
            QVERIFY2(instruction, name);
            QCOMPARE(instruction->text(QAccessible::Name), label->text());
            QCOMPARE(instruction->text(QAccessible::Description), QString("Instruction"));
        }
        QAccessibleInterface* about =
            QAccessible::queryAccessibleInterface(m_dialog->findChild<QToolButton*>("aboutButton"));
        QCOMPARE(about->text(QAccessible::Name), QString("About Tessaly"));

        // Nothing a screen reader walks through in the window is nameless.
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(m_dialog.get());
        QCOMPARE(window->text(QAccessible::Name), QString("Quorvex Tiff to Pdf Converter"));
        for (int index = 0; index < window->childCount(); ++index) {
            QAccessibleInterface* child = window->child(index);
            QVERIFY2(!child->text(QAccessible::Name).isEmpty(),
                     qPrintable(child->object()->objectName()));
        }
    }

  private:
    FileListWidget* list() const { return m_dialog->list(); }

    void addRows(int count) {
        QStringList paths;
        for (int row = 0; row < count; ++row) {
            paths.append(QStringLiteral("/tmp/keyboard/row%1.tif").arg(row));
        }
        m_dialog->OnDropFiles(paths);
    }

    // The list focused with only this row current and selected.
    void focusRow(int row) {
        list()->setFocus(Qt::TabFocusReason);
        list()->setCurrentItem(list()->topLevelItem(row));
        selectPositions(list(), {row});
        QTRY_VERIFY(list()->hasFocus());
    }

    static QMenu* openMenu() {
        QMenu* menu = nullptr;
        const bool opened = QTest::qWaitFor(
            [&menu] {
                menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                return menu != nullptr;
            },
            2000);
        return opened ? menu : nullptr;
    }

    static int visibleMenus() {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            count += qobject_cast<QMenu*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
        }
        return count;
    }

    static void closePopups() {
        while (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
    }

    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(KeyboardTest)
#include "KeyboardTest.moc"
