#include "app/FileListWidget.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

#include "app/PathElision.h"

namespace quorvex::gui {

FileListWidget::FileListWidget(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(3);
    setHeaderLabels({QStringLiteral("Filename"), QStringLiteral("Status"), QStringLiteral("Size")});
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    // Rows are dragged out; drops land on the window around the list.
    setDragDropMode(QAbstractItemView::DragOnly);
    setContextMenuPolicy(Qt::CustomContextMenu);
    header()->setSectionsMovable(false);
    // The stretched last section never gets narrower than it was when the
    // stretch was turned on (100 pixels by default), which would push the
    // columns past the list's width once a long path takes the room.
    header()->resizeSection(kSizeColumn, header()->sectionSizeHint(kSizeColumn));
    header()->setStretchLastSection(true);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setItemDelegate(new TruncatedTextToolTipDelegate(this));
    setItemDelegateForColumn(kFilenameColumn, new PathCellDelegate(this));
    // Only the user's own scrolling triggers scroll bar actions (the wheel,
    // dragging the slider, its arrows); scrolling done here does not.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { m_userScrolled = true; });
    m_fitTimer.setSingleShot(true);
    m_fitTimer.setInterval(0);
    connect(&m_fitTimer, &QTimer::timeout, this, &FileListWidget::fitColumnsToContents);
}

int FileListWidget::contentWidth(int column) const {
    return std::max(sizeHintForColumn(column), header()->sectionSizeHint(column));
}

void FileListWidget::fitColumnsToContents() {
    const int status = contentWidth(kStatusColumn);
    header()->resizeSection(kStatusColumn, status);
    const int room = viewport()->width() - status - contentWidth(kSizeColumn);
    const int filename = std::max(header()->sectionSizeHint(kFilenameColumn),
                                  std::min(contentWidth(kFilenameColumn), room));
    header()->resizeSection(kFilenameColumn, filename);
}

void FileListWidget::fitColumnsSoon() {
    m_fitTimer.start();
}

bool FileListWidget::isWhollyInSight(const QModelIndex& index) const {
    return index.isValid() && viewport()->rect().contains(visualRect(index));
}

void FileListWidget::follow(QTreeWidgetItem* row) {
    if (m_userScrolled && !isWhollyInSight(m_followed)) {
        return;
    }
    m_userScrolled = false;
    m_followed = indexFromItem(row);
    // Centred, so the rows done just before and those coming next show too,
    // and the list moves only once the work walks out of sight.
    if (!isWhollyInSight(m_followed)) {
        scrollToItem(row, QAbstractItemView::PositionAtCenter);
    }
}

QString FileListWidget::shownText(QTreeWidgetItem* row, int column) const {
    const QModelIndex index = indexFromItem(row, column);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    const auto* delegate = qobject_cast<TruncatedTextToolTipDelegate*>(itemDelegateForIndex(index));
    return delegate != nullptr ? delegate->shownText(option, index) : row->text(column);
}

void FileListWidget::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    // The room for the file names depends on the width the window got.
    fitColumnsToContents();
}

QPoint FileListWidget::keyboardMenuPosition() const {
    const QRect rows = viewport()->rect();
    const QModelIndex current = currentIndex();
    const QRect row = current.isValid() ? visualRect(current.siblingAtColumn(0)) : QRect();
    if (!row.isValid() || !rows.intersects(row)) {
        return rows.topLeft();
    }
    // Indented by the row's height so the menu does not hide the file's icon.
    return {std::clamp(row.left() + row.height(), rows.left(), rows.right()),
            std::clamp(row.bottom(), rows.top(), rows.bottom())};
}

bool FileListWidget::event(QEvent* event) {
    // The platform turns the Menu key into a keyboard context-menu event for
    // the focused widget, placed at the text cursor, which a list has not.
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        emit customContextMenuRequested(keyboardMenuPosition());
        event->accept();
        return true;
    }
    return QTreeWidget::event(event);
}

void FileListWidget::keyPressEvent(QKeyEvent* event) {
    // Shift+F10 is the other context-menu key; the Menu key itself is also
    // taken here for platforms that deliver it only as a key. Where the
    // platform sends a context-menu event first, the menu is open by the time
    // the key arrives and the key goes to the menu, so it never opens twice.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool menuKey = event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier;
    const bool shiftF10 = event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
        emit customContextMenuRequested(keyboardMenuPosition());
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FileListWidget::startDrag(Qt::DropActions) {
    emit dragRequested();
}

bool TruncatedTextToolTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                             const QStyleOptionViewItem& option,
                                             const QModelIndex& index) {
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QString tip = index.data(Qt::ToolTipRole).toString();
    if (tip.isEmpty() && isTextTruncated(option, index)) {
        tip = index.data(Qt::DisplayRole).toString();
    }
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), tip, view, view->visualRect(index));
    return true;
}

int TruncatedTextToolTipDelegate::textRoom(const QStyleOptionViewItem& item) {
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    // The style keeps a small margin on each side of the text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return textRect.width() - 2 * margin;
}

bool TruncatedTextToolTipDelegate::isTextTruncated(const QStyleOptionViewItem& option,
                                                   const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    return !item.text.isEmpty() && item.fontMetrics.horizontalAdvance(item.text) > textRoom(item);
}

QString TruncatedTextToolTipDelegate::shownText(const QStyleOptionViewItem& option,
                                                const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    return item.fontMetrics.elidedText(item.text, item.textElideMode, textRoom(item));
}

QString PathCellDelegate::shownText(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    return elidePath(item.text, item.fontMetrics, textRoom(item));
}

void PathCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.text = elidePath(item.text, item.fontMetrics, textRoom(item));
    // The path is cut already; the style measures text a little differently
    // and would cut its end off again.
    item.textElideMode = Qt::ElideNone;
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
}

}  // namespace quorvex::gui
