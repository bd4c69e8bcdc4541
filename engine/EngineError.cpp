#include "engine/EngineError.h"

namespace quorvex {

const char* reasonForWriter(Result writer) {
    switch (writer) {
        case Result::ImageObject:
            return "tiff conversion error -10";
        case Result::Allocation:
            return "memmory alloc error. -11";
        case Result::ProcSetObject:
            return "procset object error -12";
        case Result::ContentStream:
            return "content stream error -13";
        case Result::PageObject:
            return "page object error -14";
        case Result::PagesObject:
            return "pages object error -15";
        case Result::CatalogObject:
            return "catalog object error -16";
        case Result::InfoObject:
            return "info object error -17";
        default:
            return "unknown error";
    }
}

ConversionError ConversionError::writer(Result writer, std::string detail) {
    if (detail.empty())
        detail = reasonForWriter(writer);
    // Damage, limits and allocation failures inside the writers all come from
    // what the TIFF asks for; the output side raises its own errors.
    return ConversionError(writer,
                           std::string("Error in function reason - ") + reasonForWriter(writer),
                           std::move(detail), FailureSide::Input);
}

ConversionError ConversionError::input(Result result, std::string reason, std::string detail) {
    return ConversionError(result, std::move(reason), std::move(detail), FailureSide::Input);
}

ConversionError ConversionError::output(Result result, std::string reason, std::string detail) {
    return ConversionError(result, std::move(reason), std::move(detail), FailureSide::Output);
}

ConversionError ConversionError::cancelled() {
    ConversionError error(Result::Failed, "Conversion cancelled.", {}, FailureSide::None);
    error.cancelled_ = true;
    return error;
}

int ConversionError::publicResult() const {
    const int code = static_cast<int>(result_);
    return code < static_cast<int>(Result::Refused) ? 0 : code;
}

}  // namespace quorvex
