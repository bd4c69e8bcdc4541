// The About box: the program's name and version beside its icon, and an OK
// button that closes it.
#pragma once

#include <QDialog>

namespace quorvex::gui {

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace quorvex::gui
