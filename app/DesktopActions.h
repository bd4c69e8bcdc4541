// What the window asks of the desktop: a beep, opening a file with its
// associated program, running a drag, asking before opening many files and
// coming to the front. Bundled so that tests can watch them and answer a
// drag or a question as they choose.
#pragma once

#include <QMimeData>
#include <QString>
#include <QUrl>
#include <Qt>
#include <functional>
#include <memory>

class QWidget;

namespace quorvex::gui {

struct DesktopActions {
    std::function<void()> beep;
    std::function<void(const QUrl& file)> openUrl;
    // Runs a drag of data from source, offering copy and move, and returns the
    // action the drop target chose (Qt::IgnoreAction when it refused).
    std::function<Qt::DropAction(QWidget* source, std::unique_ptr<QMimeData> data)> runDrag;
    // Asks whether to open this many files, each in a program of its own;
    // true to go ahead.
    std::function<bool(QWidget* parent, int files)> confirmOpen;
    // Brings the window to the front with the activation token a launch
    // handed over (empty when it had none): Wayland compositors raise a
    // window only for a token that stands for the user's click.
    std::function<void(QWidget* window, const QString& activationToken)> activate;

    // The real desktop: QApplication::beep, QDesktopServices::openUrl, QDrag,
    // QMessageBox, QWidget::activateWindow.
    static DesktopActions system();
};

}  // namespace quorvex::gui
