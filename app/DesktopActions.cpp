#include "app/DesktopActions.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDrag>
#include <QMessageBox>
#include <QWidget>

namespace quorvex::gui {

namespace {

Qt::DropAction runSystemDrag(QWidget* source, std::unique_ptr<QMimeData> data) {
    // QDrag is parent-owned: Qt disposes of it after the drag.
    auto* drag = new QDrag(source);
    drag->setMimeData(data.release());
    return drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool askToOpen(QWidget* parent, int files) {
    const auto answer = QMessageBox::question(
        parent, QStringLiteral("Open Files"),
        QStringLiteral("Open %1 files? Each opens in a program of its own.").arg(files),
        QMessageBox::Open | QMessageBox::Cancel, QMessageBox::Cancel);
    return answer == QMessageBox::Open;
}

void activateWithToken(QWidget* window, const QString& activationToken) {
    // Qt's Wayland windows take the token from the environment when asked to
    // activate, and clear it. On other platforms it would only be passed on
    // to the viewers Open starts, so it is set on Wayland alone.
    if (!activationToken.isEmpty() &&
        QGuiApplication::platformName().startsWith(QStringLiteral("wayland"))) {
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    }
    window->raise();
    window->activateWindow();
}

}  // namespace

DesktopActions DesktopActions::system() {
    DesktopActions actions;
    actions.beep = [] { QApplication::beep(); };
    actions.openUrl = [](const QUrl& file) { QDesktopServices::openUrl(file); };
    actions.runDrag = runSystemDrag;
    actions.confirmOpen = askToOpen;
    actions.activate = activateWithToken;
    return actions;
}

}  // namespace quorvex::gui
