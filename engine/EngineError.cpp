#include "engine/EngineError.h"

namespace quorvex {

const char* reasonForCode(int code) {
    switch (code) {
        case kImageObjectFailure:
            return "tiff conversion error -10";
        case kAllocationFailure:
            return "memmory alloc error. -11";
        case kProcSetObjectFailure:
            return "procset object error -12";
        case kContentStreamFailure:
            return "content stream error -13";
        case kPageObjectFailure:
            return "page object error -14";
        case kPagesObjectFailure:
            return "pages object error -15";
        case kCatalogObjectFailure:
            return "catalog object error -16";
        case kInfoObjectFailure:
            return "info object error -17";
        default:
            return "unknown error";
    }
}

}  // namespace quorvex
