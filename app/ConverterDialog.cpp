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
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <array>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/AboutDialog.h"
#include "app/AppIcon.h"
#include "app/ByteSize.h"
#include "app/ConvertEachThread.h"
#include "app/DialogUnits.h"
#include "app/DragOut.h"
#include "app/FileListWidget.h"

namespace quorvex::gui {

namespace {

// The window's size and the positions of its parts, in dialog units.
constexpr int kWindowWidth = 306;
constexpr int kWindowHeight = 190;
constexpr int kMargin = 7;
constexpr int kHintIndent = 3;
constexpr int kGapBelowList = 8;
constexpr int kGapBetweenHints = 2;

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
    : QDialog(parent), m_desktop(std::move(desktop)), m_convert(std::move(convert)) {
    setObjectName(QStringLiteral("ConverterDialog"));
    setWindowTitle(QStringLiteral("Quorvex Tiff to Pdf Converter"));
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
    setFixedSize(DialogUnits(*this).size(kWindowWidth, kWindowHeight));
}

ConverterDialog::~ConverterDialog() {
    stopWorkers();
    for (ConvertEachThread* worker : m_workers) {
        worker->wait();
    }
}

void ConverterDialog::buildWidgets() {
    const DialogUnits units(*this);

    m_list = new FileListWidget(this);
    m_list->setObjectName(QStringLiteral("m_list"));
    m_list->setAccessibleName(QStringLiteral("Files"));
    m_list->setAccessibleDescription(
        QStringLiteral("TIFF files dropped on the window, with the state of their conversion"));
    connect(m_list, &FileListWidget::dragRequested, this, &ConverterDialog::OnBegindragList);
    connect(m_list, &QWidget::customContextMenuRequested, this, &ConverterDialog::OnRclickList);

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

    auto* firstHintRow = new QHBoxLayout;
    firstHintRow->setSpacing(units.x(4));
    firstHintRow->addSpacing(units.x(kHintIndent));
    firstHintRow->addWidget(m_dropHint, 1);
    firstHintRow->addWidget(about, 0, Qt::AlignRight | Qt::AlignVCenter);

    auto* secondHintRow = new QHBoxLayout;
    secondHintRow->setSpacing(0);
    secondHintRow->addSpacing(units.x(kHintIndent));
    secondHintRow->addWidget(m_outputHint, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(units.margins(kMargin, kMargin, kMargin, kMargin / 2));
    layout->setSpacing(0);
    layout->addWidget(m_list, 1);
    layout->addSpacing(units.y(kGapBelowList) / 2);
    layout->addLayout(firstHintRow);
    layout->addSpacing(units.y(kGapBetweenHints));
    layout->addLayout(secondHintRow);
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
    std::vector<ConversionJob> jobs;
    for (const QString& path : paths) {
        // The only test of a file's type is its name: folders named x.tif
        // pass and fail later in the converter.
        if (path.isEmpty() || !path.toLower().contains(QStringLiteral(".tif"))) {
            continue;
        }
        if (listShows(path)) {
            continue;
        }
        QTreeWidgetItem* row = addRow(path);
        jobs.push_back({row->data(kFilenameColumn, kRowIdRole).value<RowId>(), path});
    }
    m_list->fitColumnsToContents();
    if (const int count = m_list->topLevelItemCount(); count > 0) {
        m_list->scrollToItem(m_list->topLevelItem(count - 1));
    }
    if (!jobs.empty()) {
        startWorker(std::move(jobs));
    }
}

QTreeWidgetItem* ConverterDialog::addRow(const QString& path) {
    auto* row = new QTreeWidgetItem(m_list);
    row->setData(kFilenameColumn, kRowIdRole, QVariant::fromValue<RowId>(m_nextRowId++));
    row->setData(kFilenameColumn, kTiffPathRole, path);
    row->setText(kFilenameColumn, path);
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

bool ConverterDialog::listShows(const QString& path) const {
    for (int index = 0; index < m_list->topLevelItemCount(); ++index) {
        if (m_list->topLevelItem(index)->text(kFilenameColumn).compare(path, Qt::CaseInsensitive) ==
            0) {
            return true;
        }
    }
    return false;
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
    for (QTreeWidgetItem* row : rows) {
        const std::unique_ptr<QTreeWidgetItem> removed(
            m_list->takeTopLevelItem(m_list->indexOfTopLevelItem(row)));
    }
}

void ConverterDialog::setPending(QTreeWidgetItem* row) {
    row->setText(kStatusColumn, QString::fromLatin1(kStatusPending));
    row->setToolTip(kStatusColumn, {});
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
    m_list->clear();
}

void ConverterDialog::OnOpen() {
    for (QTreeWidgetItem* row : selectedRows()) {
        m_desktop.openUrl(QUrl::fromLocalFile(row->text(kFilenameColumn)));
    }
}

void ConverterDialog::OnConvertAgain() {
    std::vector<ConversionJob> jobs;
    for (QTreeWidgetItem* row : selectedRows()) {
        setPending(row);
        jobs.push_back({row->data(kFilenameColumn, kRowIdRole).value<RowId>(),
                        row->data(kFilenameColumn, kTiffPathRole).toString()});
    }
    if (!jobs.empty()) {
        startWorker(std::move(jobs));
    }
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

void ConverterDialog::startWorker(std::vector<ConversionJob> jobs) {
    auto* worker = new ConvertEachThread(std::move(jobs), m_convert, this);
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
    }
}

void ConverterDialog::onJobFinished(RowId row, bool succeeded, const QString& shownPath,
                                    const QString& reason) {
    QTreeWidgetItem* item = findRow(row);
    if (item == nullptr) {
        return;
    }
    item->setText(kStatusColumn, QString::fromLatin1(succeeded ? kStatusFinished : kStatusFailed));
    item->setToolTip(kStatusColumn, reason);
    item->setText(kFilenameColumn, shownPath);
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
