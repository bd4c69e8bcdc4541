#include "app/FileListWidget.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

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
    header()->setStretchLastSection(true);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setItemDelegate(new TruncatedTextToolTipDelegate(this));
}

void FileListWidget::fitColumnsToContents() {
    resizeColumnToContents(kFilenameColumn);
    resizeColumnToContents(kStatusColumn);
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

bool TruncatedTextToolTipDelegate::isTextTruncated(const QStyleOptionViewItem& option,
                                                   const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    if (item.text.isEmpty()) {
        return false;
    }
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    // The style keeps a small margin on each side of the text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return item.fontMetrics.horizontalAdvance(item.text) > textRect.width() - 2 * margin;
}

}  // namespace quorvex::gui
