// The window's file list: three columns, rows in the order they were added,
// several rows selectable at once. Starting a drag hands over to the owner
// (dragRequested) instead of Qt's item-model drag, because the data carried
// out is files, not items. The context menu opens from the mouse, the Menu key
// and Shift+F10 alike (customContextMenuRequested, in viewport coordinates).
// Paths are cut in the middle, keeping the start of the folder and the whole
// file name.
#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>

namespace quorvex::gui {

// Columns of the list.
enum FileListColumn : int { kFilenameColumn = 0, kStatusColumn = 1, kSizeColumn = 2 };

// Data a row keeps in its "Filename" cell besides the text shown.
enum FileListRole : int {
    kRowIdRole = Qt::UserRole,  // RowId: the row's identity for the workers
    kTiffPathRole,              // QString: the TIFF file the row was made for
    kDimmedIconRole,            // bool: icon drawn faded, as for a hidden file
};

class FileListWidget : public QTreeWidget {
    Q_OBJECT

  public:
    explicit FileListWidget(QWidget* parent = nullptr);

    // Sizes "Status" to fit its header and contents and "Filename" to fit
    // its own, but never so wide that "Size" (which fills the rest) loses
    // room for its header and contents: a long path is cut short instead and
    // shows whole in its tooltip.
    void fitColumnsToContents();
    // Fits them once the events waiting now are handled: hundreds of rows
    // finishing in a row are measured once, not once each.
    void fitColumnsSoon();

    // Scrolls the row into sight, unless the user has scrolled the row
    // followed before out of sight: the list then stays where they put it.
    void follow(QTreeWidgetItem* row);
    // The next row to follow is scrolled to wherever the list is.
    void resumeFollowing() { m_userScrolled = false; }

    // The text a cell shows as drawn now, cut to its width.
    QString shownText(QTreeWidgetItem* row, int column) const;

    // Where a context menu opened from the keyboard appears, in viewport
    // coordinates: under the current row while it is in sight, otherwise at
    // the top-left corner of the rows.
    QPoint keyboardMenuPosition() const;

  signals:
    void dragRequested();

  private:
    // The width a column needs for its header and the rows in sight.
    int contentWidth(int column) const;
    bool isWhollyInSight(const QModelIndex& index) const;

    QTimer m_fitTimer;
    QPersistentModelIndex m_followed;
    bool m_userScrolled = false;

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
};

// Shows a cell's own tooltip when it has one (a failure's reason), otherwise
// the cell's full text when the column is too narrow to show all of it.
class TruncatedTextToolTipDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // Whether the cell at index, drawn in option.rect, cuts its text short.
    bool isTextTruncated(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    // The text the cell at index shows when drawn in option.rect.
    virtual QString shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

  protected:
    // The pixels the cell's text may take.
    static int textRoom(const QStyleOptionViewItem& item);
};

// Draws paths cut in the middle (see elidePath) rather than at their end.
class PathCellDelegate : public TruncatedTextToolTipDelegate {
    Q_OBJECT

  public:
    using TruncatedTextToolTipDelegate::TruncatedTextToolTipDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QString shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace quorvex::gui
