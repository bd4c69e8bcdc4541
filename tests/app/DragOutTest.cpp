// Rows dragged out of the list: the data offered, and what each drop action
// reported by the target does to the list.
#include <QApplication>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QTreeWidget>
#include <optional>

#include "GuiTestSupport.h"
#include "app/ConverterDialog.h"
#include "app/DragOut.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;
using guitest::columnTexts;
using guitest::dropPaths;
using guitest::makeFile;
using guitest::selectPositions;

class DragOutTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
        // The rows stay on their TIFF files: the worker never gets past a.tif.
        m_engine->hold();
        m_paths = {makeFile(*m_dir, "a.tif", 10), makeFile(*m_dir, "b.tif", 10),
                   makeFile(*m_dir, "c.tif", 10)};
        QVERIFY(dropPaths(m_dialog.get(), m_paths));
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
        m_dir.reset();
    }

    void dragDataHoldsTheSelectedFilesAndThePrivateFormat() {
        selectPositions(list(), {2, 0});
        m_dialog->OnBegindragList();
        QCOMPARE(m_desktop->drags, 1);
        QCOMPARE(m_desktop->draggedUrls,
                 QList<QUrl>({QUrl::fromLocalFile(m_paths[0]), QUrl::fromLocalFile(m_paths[2])}));
        QVERIFY(m_desktop->draggedFormats.contains("text/uri-list"));
        QVERIFY(m_desktop->draggedFormats.contains("Tessaly_quorvexsoftware"));
        QCOMPARE(m_desktop->draggedPrivateData, QByteArray(1, '\0'));
    }

    void draggingARowWithTheMouseStartsTheDrag() {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QWidget* viewport = list()->viewport();
        const QPoint start = list()->visualItemRect(list()->topLevelItem(1)).center();
        const QPoint end = start + QPoint(0, 4 * QApplication::styleHints()->startDragDistance());
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, start);
        QTest::mouseMove(viewport, start + QPoint(0, 2));
        QTest::mouseMove(viewport, end);
        QTRY_COMPARE(m_desktop->drags, 1);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, end);
        QCOMPARE(m_desktop->draggedUrls, QList<QUrl>({QUrl::fromLocalFile(m_paths[1])}));
    }

    void copyOrMoveRemovesTheDraggedRows_data() {
        QTest::addColumn<Qt::DropAction>("action");
        QTest::newRow("copy") << Qt::CopyAction;
        QTest::newRow("move") << Qt::MoveAction;
        QTest::newRow("move done by the target") << Qt::TargetMoveAction;
    }

    void copyOrMoveRemovesTheDraggedRows() {
        QFETCH(Qt::DropAction, action);
        m_desktop->dropAnswer = action;
        selectPositions(list(), {0, 2});
        m_dialog->OnBegindragList();
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({m_paths[1]}));
    }

    void refusedDragRemovesOnlyRowsWhoseFilesAreGone() {
        m_desktop->dropAnswer = Qt::IgnoreAction;
        m_desktop->duringDrag = [this] {
            QFile::remove(m_paths[0]);
            QFile::remove(m_paths[1]);  // not dragged: its row stays
        };
        selectPositions(list(), {0, 2});
        m_dialog->OnBegindragList();
        QCOMPARE(columnTexts(list(), kFilenameColumn), QStringList({m_paths[1], m_paths[2]}));
    }

    void refusedDragOfPresentFilesChangesNothing() {
        m_desktop->dropAnswer = Qt::IgnoreAction;
        selectPositions(list(), {0, 1, 2});
        m_dialog->OnBegindragList();
        QCOMPARE(columnTexts(list(), kFilenameColumn), m_paths);
    }

    void linkDropChangesNothing() {
        m_desktop->dropAnswer = Qt::LinkAction;
        m_desktop->duringDrag = [this] { QFile::remove(m_paths[0]); };
        selectPositions(list(), {0});
        m_dialog->OnBegindragList();
        QCOMPARE(columnTexts(list(), kFilenameColumn), m_paths);
    }

    void noSelectionNoDrag() {
        list()->clearSelection();
        m_dialog->OnBegindragList();
        QCOMPARE(m_desktop->drags, 0);
    }

    void rowsDraggedBackOntoTheWindowAreRefused() {
        const std::unique_ptr<QMimeData> data = makeListDragData({m_dir->filePath("new.tif")});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, data.get(),
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_dialog.get(), &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(m_dialog.get(), &drop);
        QCOMPARE(list()->topLevelItemCount(), 3);
    }

  private:
    QTreeWidget* list() const { return m_dialog->list(); }

    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
    QStringList m_paths;
};

QTEST_MAIN(DragOutTest)
#include "DragOutTest.moc"
