#include "app/JobReport.h"

#include <QFile>
#include <QStringList>

namespace quorvex::gui {

namespace {

QString fromEngine(const std::string& text) {
    return QString::fromStdString(text).trimmed();
}

// The reason first, then what exactly went wrong, then libtiff's own words:
// a read-only folder, a PNG named .tif and a truncated TIFF all fail to open,
// and only the lines after the first tell them apart.
QString failureText(const ConversionOutcome& outcome) {
    QStringList lines;
    QString reason = QString::fromUtf8(failureKindText(outcome.failure));
    reason[0] = reason[0].toUpper();
    lines.append(reason + QLatin1Char('.'));
    const QString detail = fromEngine(outcome.detail);
    if (!detail.isEmpty()) {
        lines.append(detail);
    }
    const QStringList diagnostics =
        fromEngine(outcome.diagnostic).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : diagnostics) {
        // The engine often quotes libtiff's last error as the detail already.
        if (line.trimmed() != detail) {
            lines.append(QStringLiteral("libtiff: ") + line.trimmed());
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QString damageText(const ConversionOutcome& outcome) {
    QStringList lines{QStringLiteral("Converted, but parts of the TIFF could not be read:")};
    for (const std::string& warning : outcome.warnings) {
        lines.append(fromEngine(warning));
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

JobReport reportOutcome(const ConversionOutcome& outcome, const QString& tiffPath) {
    JobReport report;
    report.succeeded = outcome.ok();
    if (!report.succeeded) {
        report.shownPath = tiffPath;
        report.toolTip = failureText(outcome);
        return report;
    }
    report.shownPath = QFile::decodeName(outcome.outputPath.c_str());
    report.pdfBytes = outcome.bytesWritten;
    report.damaged = outcome.damaged();
    QStringList lines;
    if (report.damaged) {
        lines.append(damageText(outcome));
    }
    // What was left out on purpose (thumbnails, masks) is said, not hidden.
    for (const std::string& note : outcome.notes) {
        lines.append(fromEngine(note));
    }
    report.toolTip = lines.join(QLatin1Char('\n'));
    return report;
}

}  // namespace quorvex::gui
