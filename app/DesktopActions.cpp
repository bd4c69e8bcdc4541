#include "app/DesktopActions.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDrag>
#include <QWidget>

namespace quorvex::gui {

namespace {

Qt::DropAction runSystemDrag(QWidget* source, std::unique_ptr<QMimeData> data) {
    // QDrag is parent-owned: Qt disposes of it after the drag.
    auto* drag = new QDrag(source);
    drag->setMimeData(data.release());
    return drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

}  // namespace

DesktopActions DesktopActions::system() {
    DesktopActions actions;
    actions.beep = [] { QApplication::beep(); };
    actions.openUrl = [](const QUrl& file) { QDesktopServices::openUrl(file); };
    actions.runDrag = runSystemDrag;
    return actions;
}

}  // namespace quorvex::gui
