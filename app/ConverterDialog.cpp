#include "app/ConverterDialog.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QSpacerItem>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/AboutDialog.h"
#include "app/AppIcon.h"
#include "app/ByteSize.h"
#include "app/ConvertEachThread.h"
#include "app/DialogUnits.h"
#include "app/DragOut.h"
#include "app/DroppedFiles.h"
#include "app/FileListWidget.h"
#include "app/ProcessorBudget.h"
#include "app/TransientNote.h"

namespace quorvex::gui {

namespace {

// The window's size and the positions of its parts, in dialog units.
constexpr int kWindowWidth = 306;
constexpr int kWindowHeight = 190;
constexpr int kMargin = 7;
constexpr int kHintIndent = 3;
constexpr int kGapBelowList = 8;
constexpr int kGapBetweenHints = 2;
constexpr int kGapBesideAbout = 4;

QLabel* instructionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    // Screen readers announce the instruction itself, and what it is.
    label->setAccessibleName(text);
    label->setAccessibleDescription(QStringLiteral("Instruction"));
    return label;
}

// The icon faded to half strength, the way file managers show hidden files.
QIcon dimmedIcon(const QIcon& icon) {
    static constexpr std::array kSides = {16, 24, 32, 48};
    QIcon dimmed;
    for (int side : kSides) {
        const QPixmap source = icon.pixmap(side, side);
        if (source.isNull()) {
            continue;
        }
        QPixmap faded(source.size());
        faded.setDevicePixelRatio(source.devicePixelRatio());
        faded.fill(Qt::transparent);
        QPainter painter(&faded);
        painter.setOpacity(0.5);
        painter.drawPixmap(0, 0, source);
        painter.end();
        dimmed.addPixmap(faded);
    }
    return dimmed;
}

// The dropped paths, as local file names without a trailing separator.
QStringList localPaths(const QList<QUrl>& urls) {
    QStringList paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            paths.append(QDir::toNativeSeparators(QDir::cleanPath(url.toLocalFile())));
        }
    }
    return paths;
}

// True only when the file is known to be gone; a file that cannot be looked
// at for another reason (permissions, say) still counts as present.
bool fileIsGone(const QString& path) {
    std::error_code error;
    const auto status = std::filesystem::status(QFile::encodeName(path).toStdString(), error);
    return status.type() == std::filesystem::file_type::not_found;
}

// Files, but not rows of this list dragged back onto it: those are in it.
bool acceptsDropOf(const QMimeData* mime) {
    return mime != nullptr && mime->hasUrls() && !isListDragData(*mime);
}

bool removesDraggedRows(Qt::DropAction action) {
    // A target that moves the files may report TargetMoveAction.
    return action == Qt::CopyAction || (action & Qt::MoveAction) != 0;
}

}  // namespace

ConverterDialog::ConverterDialog(QWidget* parent, DesktopActions desktop, ConvertFunction convert)
    : QDialog(parent),
      m_desktop(std::move(desktop)),
      m_convert(std::move(convert)),
      m_budget(std::make_shared<ProcessorBudget>()) {
    setObjectName(QStringLiteral("ConverterDialog"));
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    setWindowIcon(applicationIcon());
    // A window of its own (with a taskbar button) that stays above other
    // windows, can be minimised, but neither maximised nor resized.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setSizeGripEnabled(false);
    setAcceptDrops(true);
    buildWidgets();
    buildActions();
    applyDialogUnits();
}

ConverterDialog::~ConverterDialog() {
    // All workers stop at once and share one grace period, so closing never
    // takes longer than that however many batches were running.
    stopWorkers();
    const auto deadline = std::chrono::steady_clock::now() + ConvertEachThread::kStopGrace;
    for (ConvertEachThread* worker : m_workers) {
        worker->finishBy(deadline);
    }
}

void ConverterDialog::setProcessorBudget(unsigned processors) {
    // Running workers keep the budget they started with.
    m_budget = std::make_shared<ProcessorBudget>(processors);
}

void ConverterDialog::buildWidgets() {
    m_list = new FileListWidget(this);
    m_list->setObjectName(QStringLiteral("m_list"));
    m_list->setAccessibleName(QStringLiteral("Files"));
    m_list->setAccessibleDescription(
        QStringLiteral("TIFF files dropped on the window, with the state of their conversion"));
    connect(m_list, &FileListWidget::dragRequested, this, &ConverterDialog::OnBegindragList);
    connect(m_list, &QWidget::customContextMenuRequested, this, &ConverterDialog::OnRclickList);
    connect(m_list, &QAbstractItemView::activated, this, &ConverterDialog::onRowActivated);
    m_note = new TransientNote(m_list->viewport());

    m_dropHint =
        instructionLabel(QStringLiteral("1. Drag & drop TIFF file(s) into above window."), this);
    m_dropHint->setObjectName(QStringLiteral("dropHint"));
    m_outputHint = instructionLabel(
        QStringLiteral("2. Once it is finished, the file will be created in same directory as "
                       "the image is located in."),
        this);
    m_outputHint->setObjectName(QStringLiteral("outputHint"));

    // The window manager owns the title bar's menu on Linux, so the About
    // entry sits in the window itself (also on F1).
    auto* about = new QToolButton(this);
    about->setObjectName(QStringLiteral("aboutButton"));
    about->setText(QStringLiteral("&About Tessaly..."));
    about->setToolButtonStyle(Qt::ToolButtonTextOnly);
    about->setAutoRaise(true);
    about->setAccessibleName(QStringLiteral("About Tessaly"));
    connect(about, &QToolButton::clicked, this, &ConverterDialog::OnAbout);

    // The spacings are set in dialog units by applyDialogUnits.
    m_firstHintIndent = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    m_firstHintRow = new QHBoxLayout;
    m_firstHintRow->addSpacerItem(m_firstHintIndent);
    m_firstHintRow->addWidget(m_dropHint, 1);
    m_firstHintRow->addWidget(about, 0, Qt::AlignRight | Qt::AlignVCenter);

    m_secondHintIndent = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    m_secondHintRow = new QHBoxLayout;
    m_secondHintRow->setSpacing(0);
    m_secondHintRow->addSpacerItem(m_secondHintIndent);
    m_secondHintRow->addWidget(m_outputHint, 1);

    m_gapBelowList = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_gapBetweenHints = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_layout = new QVBoxLayout(this);
    m_layout->setSpacing(0);
    m_layout->addWidget(m_list, 1);
    m_layout->addSpacerItem(m_gapBelowList);
    m_layout->addLayout(m_firstHintRow);
    m_layout->addSpacerItem(m_gapBetweenHints);
    m_layout->addLayout(m_secondHintRow);
}

void ConverterDialog::applyDialogUnits() {
    const DialogUnits units(*this);
    m_firstHintRow->setSpacing(units.x(kGapBesideAbout));
    m_firstHintIndent->changeSize(units.x(kHintIndent), 0, QSizePolicy::Fixed,
                                  QSizePolicy::Minimum);
    m_secondHintIndent->changeSize(units.x(kHintIndent), 0, QSizePolicy::Fixed,
                                   QSizePolicy::Minimum);
    m_gapBelowList->changeSize(0, units.y(kGapBelowList) / 2, QSizePolicy::Minimum,
                               QSizePolicy::Fixed);
    m_gapBetweenHints->changeSize(0, units.y(kGapBetweenHints), QSizePolicy::Minimum,
                                  QSizePolicy::Fixed);
    m_layout->setContentsMargins(units.margins(kMargin, kMargin, kMargin, kMargin / 2));
    m_layout->invalidate();
    setFixedSize(units.size(kWindowWidth, kWindowHeight));
    m_list->fitColumnsToContents();
}

void ConverterDialog::buildActions() {
    m_open = addCommand(QStringLiteral("&Open"), {}, &ConverterDialog::OnOpen);
    m_selectAll = addCommand(QStringLiteral("&Select All"), QKeySequence(Qt::CTRL | Qt::Key_A),
                             &ConverterDialog::OnSelectAll);
    m_invertSelection =
        addCommand(QStringLiteral("I&nvert Selection"), QKeySequence(Qt::CTRL | Qt::Key_W),
                   &ConverterDialog::OnInvertSelection);
    m_removeFromList =
        addCommand(QStringLiteral("&Remove From List"), QKeySequence(Qt::CTRL | Qt::Key_R),
                   &ConverterDialog::OnRemoveFromList);
    // Delete is where file managers put removal; Ctrl+R stays the one shown.
    m_removeFromList->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence::Delete});
    m_clearList = addCommand(QStringLiteral("&Clear List"), QKeySequence(Qt::CTRL | Qt::Key_L),
                             &ConverterDialog::OnClearList);
    m_convertAgain =
        addCommand(QStringLiteral("&Convert Again"), {}, &ConverterDialog::OnConvertAgain);
    m_about = addCommand(QStringLiteral("&About Tessaly..."), QKeySequence(Qt::Key_F1),
                         &ConverterDialog::OnAbout);
}

QAction* ConverterDialog::addCommand(const QString& text, const QKeySequence& shortcut,
                                     void (ConverterDialog::*handler)()) {
    auto* action = new QAction(text, this);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    // Shortcuts only fire for actions that belong to a widget of the window.
    addAction(action);
    connect(action, &QAction::triggered, this, handler);
    return action;
}

QMenu* ConverterDialog::createContextMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("Popup"), parent);
    menu->addAction(m_open);
    menu->addSeparator();
    menu->addAction(m_selectAll);
    menu->addAction(m_invertSelection);
    menu->addSeparator();
    menu->addAction(m_removeFromList);
    menu->addAction(m_clearList);
    menu->addAction(m_convertAgain);
    return menu;
}

void ConverterDialog::OnRclickList(const QPoint& position) {
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

QPoint ConverterDialog::cornerPosition(const QRect& availableArea, const QSize& frameSize) {
    return {availableArea.x() + availableArea.width() - frameSize.width(),
            availableArea.y() + availableArea.height() - frameSize.height()};
}

void ConverterDialog::placeInCorner() {
    QScreen* screen = this->screen();
    if (screen == nullptr) {
        return;
    }
    m_frameMarginsAtPlacement =
        windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    // move() places a window's frame, so the frame's size decides the corner.
    move(cornerPosition(screen->availableGeometry(), size().grownBy(m_frameMarginsAtPlacement)));
}

void ConverterDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        placeInCorner();
    }
}

void ConverterDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // The window manager adds its frame after the window first appears; place
    // the window again once the frame is known. A later move by the user keeps
    // the frame unchanged and is left alone.
    if (m_placed && windowHandle() != nullptr &&
        windowHandle()->frameMargins() != m_frameMarginsAtPlacement) {
        placeInCorner();
    }
}

void ConverterDialog::keyPressEvent(QKeyEvent* event) {
    // Esc and Enter would end a dialog; this window closes only on request.
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void ConverterDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // The desktop's font changed: the dialog units change with it.
    if (event->type() == QEvent::FontChange && m_layout != nullptr) {
        applyDialogUnits();
    }
}

void ConverterDialog::done(int result) {
    stopWorkers();
    QDialog::done(result);
}

void ConverterDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptsDropOf(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ConverterDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptsDropOf(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ConverterDialog::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (!acceptsDropOf(mime)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    OnDropFiles(localPaths(mime->urls()));
}

void ConverterDialog::OnDropFiles(const QStringList& paths) {
    const QStringList files = filesOfDrop(paths);
    std::vector<ConversionJob> jobs;
    QSet<QString> taken;
    for (const QString& path : files) {
        if (taken.contains(path) || isBusyDuplicate(path)) {
            continue;
        }
        taken.insert(path);
        jobs.push_back(jobFor(addRow(path)));
    }
    if (jobs.empty()) {
        // A launch from the menu hands over no paths at all: nothing to say.
        if (!paths.isEmpty()) {
            m_note->showNote(
                QString::fromUtf8(files.isEmpty() ? kNoteNoTiffFiles : kNoteAlreadyConverting));
        }
        return;
    }
    m_note->hide();
    m_list->fitColumnsToContents();
    m_list->scrollToItem(m_list->topLevelItem(m_list->topLevelItemCount() - 1));
    m_list->resumeFollowing();
    schedule(std::move(jobs));
    updateProgress();
}

void ConverterDialog::OnFilesHandedOver(const QStringList& paths, const QString& activationToken) {
    OnDropFiles(paths);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    m_desktop.activate(this, activationToken);
}

QTreeWidgetItem* ConverterDialog::addRow(const QString& path) {
    auto* row = new QTreeWidgetItem(m_list);
    row->setData(kFilenameColumn, kRowIdRole, QVariant::fromValue<RowId>(m_nextRowId++));
    row->setData(kFilenameColumn, kTiffPathRole, path);
    row->setText(kFilenameColumn, path);
    row->setToolTip(kFilenameColumn, path);
    row->setText(kStatusColumn, QString::fromLatin1(kStatusPending));

    const QFileInfo info(path);
    if (info.exists()) {
        QIcon icon = m_iconProvider.icon(info);
        if (info.isHidden()) {
            icon = dimmedIcon(icon);
            row->setData(kFilenameColumn, kDimmedIconRole, true);
        }
        row->setIcon(kFilenameColumn, icon);
        // A folder has no size of its own to show.
        const uint64_t bytes = info.isDir() ? 0 : static_cast<uint64_t>(info.size());
        row->setText(kSizeColumn, QString::fromStdString(formatByteSize(bytes)));
    }
    return row;
}

QTreeWidgetItem* ConverterDialog::findRow(RowId row) const {
    for (int index = 0; index < m_list->topLevelItemCount(); ++index) {
        QTreeWidgetItem* item = m_list->topLevelItem(index);
        if (item->data(kFilenameColumn, kRowIdRole).value<RowId>() == row) {
            return item;
        }
    }
    return nullptr;
}

bool ConverterDialog::isBusyDuplicate(const QString& path) const {
    // A row that shows its result no longer holds its file: dropping the file
    // again converts it again.
    for (int index = 0; index < m_list->topLevelItemCount(); ++index) {
        const ConversionJob job = jobFor(m_list->topLevelItem(index));
        if (job.path == path && m_ledger.isBusy(job.row)) {
            return true;
        }
    }
    return false;
}

ConversionJob ConverterDialog::jobFor(const QTreeWidgetItem* row) {
    return {row->data(kFilenameColumn, kRowIdRole).value<RowId>(),
            row->data(kFilenameColumn, kTiffPathRole).toString()};
}

std::vector<QTreeWidgetItem*> ConverterDialog::selectedRows() const {
    std::vector<QTreeWidgetItem*> rows;
    for (int index = 0; index < m_list->topLevelItemCount(); ++index) {
        QTreeWidgetItem* item = m_list->topLevelItem(index);
        if (item->isSelected()) {
            rows.push_back(item);
        }
    }
    return rows;
}

void ConverterDialog::removeRows(const std::vector<QTreeWidgetItem*>& rows) {
    std::vector<RowId> ids;
    for (const QTreeWidgetItem* row : rows) {
        ids.push_back(jobFor(row).row);
    }
    m_ledger.forgetWaits(ids);
    for (QTreeWidgetItem* row : rows) {
        const std::unique_ptr<QTreeWidgetItem> removed(
            m_list->takeTopLevelItem(m_list->indexOfTopLevelItem(row)));
    }
    updateProgress();
}

void ConverterDialog::setPending(QTreeWidgetItem* row) {
    row->setText(kStatusColumn, QString::fromLatin1(kStatusPending));
    row->setToolTip(kStatusColumn, {});
    row->setIcon(kStatusColumn, {});
}

void ConverterDialog::OnSelectAll() {
    m_list->selectAll();
}

void ConverterDialog::OnInvertSelection() {
    const int count = m_list->topLevelItemCount();
    if (count == 0) {
        return;
    }
    QAbstractItemModel* model = m_list->model();
    const QItemSelection everything(model->index(0, 0),
                                    model->index(count - 1, model->columnCount() - 1));
    m_list->selectionModel()->select(everything, QItemSelectionModel::Toggle);
}

void ConverterDialog::OnRemoveFromList() {
    removeRows(selectedRows());
}

void ConverterDialog::OnClearList() {
    m_ledger.forgetAllWaits();
    m_list->clear();
    updateProgress();
}

void ConverterDialog::OnOpen() {
    std::vector<QTreeWidgetItem*> rows = selectedRows();
    if (rows.empty() && m_list->currentItem() != nullptr) {
        rows.push_back(m_list->currentItem());
    }
    openRows(rows);
}

void ConverterDialog::onRowActivated(const QModelIndex& index) {
    QTreeWidgetItem* row = m_list->itemFromIndex(index);
    if (row == nullptr) {
        return;
    }
    if (row->isSelected()) {
        OnOpen();
    } else {
        openRows({row});
    }
}

void ConverterDialog::openRows(const std::vector<QTreeWidgetItem*>& rows) {
    const int count = static_cast<int>(rows.size());
    // Each file starts a program of its own; hundreds at once would bury the
    // desktop.
    if (count > kOpenWithoutAsking && !m_desktop.confirmOpen(this, count)) {
        return;
    }
    for (QTreeWidgetItem* row : rows) {
        m_desktop.openUrl(QUrl::fromLocalFile(row->text(kFilenameColumn)));
    }
}

void ConverterDialog::OnConvertAgain() {
    std::vector<ConversionJob> jobs;
    for (QTreeWidgetItem* row : selectedRows()) {
        const ConversionJob job = jobFor(row);
        // A row in work keeps showing its progress; it converts once more
        // after that.
        if (!m_ledger.isBusy(job.row)) {
            setPending(row);
        }
        jobs.push_back(job);
    }
    schedule(std::move(jobs));
    updateProgress();
}

void ConverterDialog::OnAbout() {
    AboutDialog about(this);
    about.exec();
}

void ConverterDialog::OnBegindragList() {
    const std::vector<QTreeWidgetItem*> dragged = selectedRows();
    if (dragged.empty()) {
        return;
    }
    QStringList paths;
    for (QTreeWidgetItem* row : dragged) {
        paths.append(row->text(kFilenameColumn));
    }
    const Qt::DropAction action = m_desktop.runDrag(m_list, makeListDragData(paths));

    if (removesDraggedRows(action)) {
        removeRows(selectedRows());
        m_list->fitColumnsToContents();
    } else if (action == Qt::IgnoreAction) {
        // The target refused, but it may still have taken some files away.
        std::vector<QTreeWidgetItem*> gone;
        for (QTreeWidgetItem* row : selectedRows()) {
            if (fileIsGone(row->text(kFilenameColumn))) {
                gone.push_back(row);
            }
        }
        if (!gone.empty()) {
            removeRows(gone);
            m_list->fitColumnsToContents();
        }
    }
}

void ConverterDialog::schedule(std::vector<ConversionJob> jobs) {
    std::vector<ConversionJob> now;
    for (ConversionJob& job : jobs) {
        if (m_ledger.isBusy(job.row) || m_ledger.fileInWork(job.path)) {
            m_ledger.wait(job);
        } else {
            now.push_back(std::move(job));
        }
    }
    if (!now.empty()) {
        startWorker(std::move(now));
    }
}

void ConverterDialog::startReadyWaits() {
    std::vector<ConversionJob> ready = m_ledger.takeReady();
    for (const ConversionJob& job : ready) {
        if (QTreeWidgetItem* row = findRow(job.row)) {
            setPending(row);
        }
    }
    if (!ready.empty()) {
        startWorker(std::move(ready));
    }
}

void ConverterDialog::startWorker(std::vector<ConversionJob> jobs) {
    for (const ConversionJob& job : jobs) {
        m_ledger.workStarted(job);
    }
    auto* worker = new ConvertEachThread(std::move(jobs), m_convert, m_budget, this);
    connect(worker, &ConvertEachThread::jobStarted, this, &ConverterDialog::onJobStarted,
            Qt::QueuedConnection);
    connect(worker, &ConvertEachThread::jobFinished, this, &ConverterDialog::onJobFinished,
            Qt::QueuedConnection);
    connect(
        worker, &ConvertEachThread::batchFinished, this,
        [this, worker] { onBatchFinished(worker); }, Qt::QueuedConnection);
    m_workers.push_back(worker);
    worker->start();
}

void ConverterDialog::onJobStarted(RowId row) {
    // Updates for rows removed in the meantime are dropped.
    if (QTreeWidgetItem* item = findRow(row)) {
        item->setText(kStatusColumn, QString::fromLatin1(kStatusConverting));
        item->setToolTip(kStatusColumn, {});
        item->setIcon(kStatusColumn, {});
        m_list->follow(item);
    }
}

void ConverterDialog::onJobFinished(RowId row, const JobReport& report) {
    m_ledger.workEnded(row);
    if (QTreeWidgetItem* item = findRow(row)) {
        item->setText(kStatusColumn,
                      QString::fromLatin1(report.succeeded ? kStatusFinished : kStatusFailed));
        item->setToolTip(kStatusColumn, report.toolTip);
        // Damage keeps the status text; the icon tells such rows apart.
        item->setIcon(kStatusColumn, report.damaged
                                         ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                         : QIcon());
        item->setText(kFilenameColumn, report.shownPath);
        item->setToolTip(kFilenameColumn, report.shownPath);
        if (report.succeeded) {
            item->setText(kSizeColumn, QString::fromStdString(formatByteSize(report.pdfBytes)));
        }
        // "a.pdf" is wider than "a.tif" in most fonts.
        m_list->fitColumnsSoon();
    }
    m_progress.jobEnded();
    startReadyWaits();
    updateProgress();
}

void ConverterDialog::updateProgress() {
    m_progress.setOutstanding(m_ledger.outstanding());
    setWindowTitle(m_progress.title(QString::fromUtf8(kWindowTitle)));
}

void ConverterDialog::onBatchFinished(ConvertEachThread* worker) {
    std::erase(m_workers, worker);
    worker->wait();
    worker->deleteLater();
    m_desktop.beep();
    emit batchFinished();
}

void ConverterDialog::stopWorkers() {
    for (ConvertEachThread* worker : m_workers) {
        worker->requestStop();
    }
}

}  // namespace quorvex::gui
