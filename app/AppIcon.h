// The application's icon, in every size drawn for it.
#pragma once

#include <QIcon>

namespace quorvex::gui {

QIcon applicationIcon();

}  // namespace quorvex::gui
