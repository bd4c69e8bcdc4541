// The data a drag out of the file list carries.
#pragma once

#include <QMimeData>
#include <QStringList>
#include <memory>

namespace quorvex::gui {

// Private format attached to every drag that starts in the list (one zero
// byte), so that the window recognises its own rows coming back.
inline constexpr const char* g_cfListDrag = "Tessaly_quorvexsoftware";

// The files as file URLs, in the given order, plus the private format.
std::unique_ptr<QMimeData> makeListDragData(const QStringList& paths);

// Whether data came from a drag out of this program's list.
bool isListDragData(const QMimeData& data);

}  // namespace quorvex::gui
