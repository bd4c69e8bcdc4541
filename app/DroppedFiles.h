// Which files a drop hands the window: the paths dropped, with folders
// expanded to the TIFF files inside them as the command line expands them.
#pragma once

#include <QStringList>

namespace quorvex::gui {

// Keeps dropped paths containing ".tif" (any letter case): the name is the
// only test of a dropped file, so a FIFO named x.tif is kept and refused by
// the converter with the reason. A folder gives the TIFF files in it and in
// its sub-folders, by engine/Conversion.h's rule and in its sorted order.
// Paths come back in drop order, absolute and clean.
QStringList filesOfDrop(const QStringList& paths);

}  // namespace quorvex::gui
