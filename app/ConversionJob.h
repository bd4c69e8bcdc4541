// One file of a conversion batch, and the engine call the batch workers use.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

#include "engine/Conversion.h"

namespace quorvex::gui {

// Identifies a row of the file list for as long as it exists. Workers address
// rows by this id, never by position, so removing rows while a batch runs
// cannot redirect an update to another file's row.
using RowId = quint64;

struct ConversionJob {
    RowId row = 0;
    QString path;  // the TIFF file, as dropped
};

// The engine entry the workers call; tests substitute a scripted one.
using ConvertFunction = std::function<ConversionOutcome(const ConversionRequest&)>;

}  // namespace quorvex::gui
