// What a row shows once its conversion has ended: the status, the path, and
// the tooltip that says why a conversion failed or what it could not read.
#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>

#include "engine/Conversion.h"

namespace quorvex::gui {

struct JobReport {
    bool succeeded = false;
    // The PDF was written, but parts of the TIFF could not be read.
    bool damaged = false;
    QString shownPath;      // the PDF written on success, the TIFF otherwise
    uint64_t pdfBytes = 0;  // the size of the PDF written, on success
    QString toolTip;        // empty for a clean success
};

// The report for an engine outcome; tiffPath is the file the row was made for.
JobReport reportOutcome(const ConversionOutcome& outcome, const QString& tiffPath);

}  // namespace quorvex::gui

Q_DECLARE_METATYPE(quorvex::gui::JobReport)
