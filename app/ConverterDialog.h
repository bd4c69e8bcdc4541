// The main window: a small, fixed-size, always-on-top dialog in the corner of
// the screen holding the file list. Files and folders dropped on it are
// converted at once by one worker per drop, all workers sharing one processor
// budget; the title counts the files done while work is pending. A context
// menu, shortcuts, double-click and Enter act on the list, and rows can be
// dragged out to other programs as files.
#pragma once

#include <QDialog>
#include <QFileIconProvider>
#include <QMargins>
#include <QStringList>
#include <memory>
#include <vector>

#include "app/BatchProgress.h"
#include "app/ConversionJob.h"
#include "app/ConversionLedger.h"
#include "app/DesktopActions.h"
#include "app/JobReport.h"

class QAction;
class QBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QSpacerItem;
class QTreeWidgetItem;

namespace quorvex::gui {

class ConvertEachThread;
class FileListWidget;
class ProcessorBudget;
class TransientNote;

// The window's title while it has nothing to convert.
inline constexpr const char* kWindowTitle = "Quorvex Tiff to Pdf Converter";
// Open asks before starting a program for more files than this.
inline constexpr int kOpenWithoutAsking = 20;
// What the window says about a drop that adds no row.
inline constexpr const char* kNoteNoTiffFiles = "No TIFF files in the drop";
inline constexpr const char* kNoteAlreadyConverting = "These files are already being converted";

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
    // Stops running workers and waits for them, together at most
    // ConvertEachThread::kStopGrace; a worker stuck in its input is left
    // behind. None reaches a destroyed window.
    ~ConverterDialog() override;

    // File intake, for dropped files, files named when the program starts and
    // files a second launch hands over: takes the files filesOfDrop finds
    // (folders give the TIFF files inside), except those a pending or
    // converting row is already made for (compared exactly, as the file
    // system does), adds a row for each and converts them as one batch on a
    // new worker. Paths that add no row bring up a note saying why.
    void OnDropFiles(const QStringList& paths);
    // Files a second launch handed over: taken as one drop, and the window
    // comes to the front with the launch's activation token.
    void OnFilesHandedOver(const QStringList& paths, const QString& activationToken = {});

    // The processors the conversions started from now on share (0: one per
    // processor of the machine).
    void setProcessorBudget(unsigned processors);
    const std::shared_ptr<ProcessorBudget>& processorBudget() const { return m_budget; }

    FileListWidget* list() const { return m_list; }
    TransientNote* note() const { return m_note; }
    // The list's context menu, freshly built; the caller owns it.
    QMenu* createContextMenu(QWidget* parent);
    // The window's corner position on its screen's available area, given
    // the size of its frame.
    static QPoint cornerPosition(const QRect& availableArea, const QSize& frameSize);

  public slots:
    // Opens the selected rows' files, or the focused row's when none is
    // selected; asks first when that is more than kOpenWithoutAsking.
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
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  public:
    void done(int result) override;

  private:
    void buildWidgets();
    void buildActions();
    // Sizes the window and spaces its parts in dialog units of its font.
    void applyDialogUnits();
    QAction* addCommand(const QString& text, const QKeySequence& shortcut,
                        void (ConverterDialog::*handler)());
    void placeInCorner();

    QTreeWidgetItem* addRow(const QString& path);
    QTreeWidgetItem* findRow(RowId row) const;
    bool isBusyDuplicate(const QString& path) const;
    std::vector<QTreeWidgetItem*> selectedRows() const;
    void openRows(const std::vector<QTreeWidgetItem*>& rows);
    // Double-click or Enter: the selection when the row is part of it.
    void onRowActivated(const QModelIndex& index);
    void updateProgress();
    void removeRows(const std::vector<QTreeWidgetItem*>& rows);
    void setPending(QTreeWidgetItem* row);
    static ConversionJob jobFor(const QTreeWidgetItem* row);

    // Starts the jobs on a new worker, except those whose row or file is in
    // work: they wait for it and convert after it.
    void schedule(std::vector<ConversionJob> jobs);
    void startReadyWaits();
    void startWorker(std::vector<ConversionJob> jobs);
    void onJobStarted(RowId row);
    void onJobFinished(RowId row, const JobReport& report);
    void onBatchFinished(ConvertEachThread* worker);
    void stopWorkers();

    DesktopActions m_desktop;
    ConvertFunction m_convert;

    FileListWidget* m_list = nullptr;
    QLabel* m_dropHint = nullptr;
    QLabel* m_outputHint = nullptr;
    QBoxLayout* m_layout = nullptr;
    QBoxLayout* m_firstHintRow = nullptr;
    QBoxLayout* m_secondHintRow = nullptr;
    QSpacerItem* m_gapBelowList = nullptr;
    QSpacerItem* m_gapBetweenHints = nullptr;
    QSpacerItem* m_firstHintIndent = nullptr;
    QSpacerItem* m_secondHintIndent = nullptr;
    TransientNote* m_note = nullptr;
    QFileIconProvider m_iconProvider;

    QAction* m_open = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_invertSelection = nullptr;
    QAction* m_removeFromList = nullptr;
    QAction* m_clearList = nullptr;
    QAction* m_convertAgain = nullptr;
    QAction* m_about = nullptr;

    RowId m_nextRowId = 1;
    ConversionLedger m_ledger;
    BatchProgress m_progress;
    std::shared_ptr<ProcessorBudget> m_budget;
    std::vector<ConvertEachThread*> m_workers;  // children of this window
    QMargins m_frameMarginsAtPlacement;
    bool m_placed = false;
};

}  // namespace quorvex::gui
