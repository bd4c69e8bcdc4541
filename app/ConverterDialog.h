// The main window: a small, fixed-size, always-on-top dialog in the corner of
// the screen holding the file list. Files dropped on it are converted at once
// by one worker per drop; a context menu and shortcuts act on the list, and
// rows can be dragged out to other programs as files.
#pragma once

#include <QDialog>
#include <QFileIconProvider>
#include <QMargins>
#include <QStringList>
#include <vector>

#include "app/ConversionJob.h"
#include "app/DesktopActions.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidgetItem;

namespace quorvex::gui {

class ConvertEachThread;
class FileListWidget;

// The status texts a row passes through.
inline constexpr const char* kStatusPending = "pending convert";
inline constexpr const char* kStatusConverting = "Converting";
inline constexpr const char* kStatusFinished = "Finsihed";
inline constexpr const char* kStatusFailed = "Failed";

class ConverterDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ConverterDialog(QWidget* parent = nullptr,
                             DesktopActions desktop = DesktopActions::system(),
                             ConvertFunction convert = convertTiff);
    // Stops running workers and waits for them; they never reach a destroyed
    // window.
    ~ConverterDialog() override;

    // File intake, for dropped files and files named when the program starts:
    // keeps paths containing ".tif" (any letter case) that no row shows yet,
    // adds a row for each and converts them as one batch on a new worker.
    void OnDropFiles(const QStringList& paths);

    FileListWidget* list() const { return m_list; }
    // The list's context menu, freshly built; the caller owns it.
    QMenu* createContextMenu(QWidget* parent);
    // The window's corner position on its screen's available area, given
    // the size of its frame.
    static QPoint cornerPosition(const QRect& availableArea, const QSize& frameSize);

  public slots:
    void OnOpen();
    void OnSelectAll();
    void OnInvertSelection();
    void OnRemoveFromList();
    void OnClearList();
    void OnConvertAgain();
    void OnAbout();
    void OnBegindragList();
    void OnRclickList(const QPoint& position);

  signals:
    // After a batch has ended and beeped.
    void batchFinished();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  public:
    void done(int result) override;

  private:
    void buildWidgets();
    void buildActions();
    QAction* addCommand(const QString& text, const QKeySequence& shortcut,
                        void (ConverterDialog::*handler)());
    void placeInCorner();

    QTreeWidgetItem* addRow(const QString& path);
    QTreeWidgetItem* findRow(RowId row) const;
    bool listShows(const QString& path) const;
    std::vector<QTreeWidgetItem*> selectedRows() const;
    void removeRows(const std::vector<QTreeWidgetItem*>& rows);
    void setPending(QTreeWidgetItem* row);

    void startWorker(std::vector<ConversionJob> jobs);
    void onJobStarted(RowId row);
    void onJobFinished(RowId row, bool succeeded, const QString& shownPath, const QString& reason);
    void onBatchFinished(ConvertEachThread* worker);
    void stopWorkers();

    DesktopActions m_desktop;
    ConvertFunction m_convert;

    FileListWidget* m_list = nullptr;
    QLabel* m_dropHint = nullptr;
    QLabel* m_outputHint = nullptr;
    QPushButton* m_aboutButton = nullptr;
    QFileIconProvider m_iconProvider;

    QAction* m_open = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_invertSelection = nullptr;
    QAction* m_removeFromList = nullptr;
    QAction* m_clearList = nullptr;
    QAction* m_convertAgain = nullptr;
    QAction* m_about = nullptr;

    RowId m_nextRowId = 1;
    std::vector<ConvertEachThread*> m_workers;  // children of this window
    QMargins m_frameMarginsAtPlacement;
    bool m_placed = false;
};

}  // namespace quorvex::gui
