// What the window asks of the desktop: a beep, opening a file with its
// associated program, and running a drag. Bundled so that tests can watch
// them and answer a drag with the drop action of their choice.
#pragma once

#include <QMimeData>
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

    // The real desktop: QApplication::beep, QDesktopServices::openUrl, QDrag.
    static DesktopActions system();
};

}  // namespace quorvex::gui
