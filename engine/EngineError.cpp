#include "engine/EngineError.h"

namespace quorvex {

// The one table of the historic texts. The misspelled "memmory" is what
// callers have always matched on.
LegacyText legacyTextOf(LegacyReason reason) {
    switch (reason) {
        case LegacyReason::UnableToOpen:
            return {"Unable to open file.", -1};
        case LegacyReason::UnableToWrite:
            return {"Unable to write file.", 0};
        case LegacyReason::CmykRefused:
            return {"CMYK File Format not accepted", 0};
        case LegacyReason::Damaged:
            return {"Damaged TIFF file.", 0};
        case LegacyReason::InvalidFax:
            return {"Unable to convert tiff. invalid fax format.", -1};
        case LegacyReason::UnsupportedCompression:
            return {"Unsupported compression.", -1};
        case LegacyReason::NoFileName:
            return {"No file name given.", -1};
        case LegacyReason::Cancelled:
            return {"Conversion cancelled.", 0};
        case LegacyReason::ImageObject:
            return {"Error in function reason - tiff conversion error -10", 0};
        case LegacyReason::Allocation:
            return {"Error in function reason - memmory alloc error. -11", 0};
        case LegacyReason::ProcSetObject:
            return {"Error in function reason - procset object error -12", 0};
        case LegacyReason::ContentStream:
            return {"Error in function reason - content stream error -13", 0};
        case LegacyReason::PageObject:
            return {"Error in function reason - page object error -14", 0};
        case LegacyReason::PagesObject:
            return {"Error in function reason - pages object error -15", 0};
        case LegacyReason::CatalogObject:
            return {"Error in function reason - catalog object error -16", 0};
        case LegacyReason::InfoObject:
            return {"Error in function reason - info object error -17", 0};
        case LegacyReason::General:
            break;
    }
    return {"Error in convertTiffToPdf", 0};
}

}  // namespace quorvex

const char* quorvex::failureKindText(FailureKind kind) {
    switch (kind) {
        case FailureKind::None:
            return "converted";
        case FailureKind::InputUnreadable:
            return "cannot read the TIFF";
        case FailureKind::InputRefused:
            return "cannot convert the TIFF";
        case FailureKind::TooLarge:
            return "too large to convert";
        case FailureKind::OutputFailed:
            return "cannot create the PDF";
        case FailureKind::Cancelled:
            return "cancelled";
        case FailureKind::Internal:
            break;
    }
    return "internal error";
}
