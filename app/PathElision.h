// A path cut to fit a width the way the file list shows it: the start of its
// folder and the whole file name ("/home/ann/Customer Do…/2024 Invoice 7.pdf"),
// so that files of one deep folder stay told apart.
#pragma once

#include <QString>

class QFontMetrics;

namespace quorvex::gui {

// The path as it is when it fits in width pixels. Otherwise the folder is cut
// at its end, so its start and the whole file name show; a file name too long
// for that is cut in its middle, keeping its extension.
QString elidePath(const QString& path, const QFontMetrics& metrics, int width);

}  // namespace quorvex::gui
