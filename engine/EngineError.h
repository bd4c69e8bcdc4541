// The engine's one error model. Every failure inside a conversion is raised
// as a ConversionError carrying the result it ends the run with, the reason
// text callers show, the detail (libtiff's, zlib's or the system's own words)
// and the side that failed. The two entries (TiffToPdf and convertTiff) turn
// it into their codes and texts; nothing else catches it.
#pragma once

#include <exception>
#include <string>

#include "engine/Conversion.h"

namespace quorvex {

// Results of a run. Converted, Failed and Refused are the public codes 1, 0
// and -1; the others name the writer that could not finish and end the run
// with 0 and the "Error in function reason" text.
enum class Result : int {
    Converted = 1,
    Failed = 0,
    Refused = -1,
    ImageObject = -10,
    Allocation = -11,
    ProcSetObject = -12,
    ContentStream = -13,
    PageObject = -14,
    PagesObject = -15,
    CatalogObject = -16,
    InfoObject = -17,
};

// The short reason text of a writer's result, e.g. "tiff conversion error -10".
// The misspelled "memmory" is the text callers have always matched on.
const char* reasonForWriter(Result writer);

class ConversionError : public std::exception {
  public:
    ConversionError(Result result, std::string reason, std::string detail, FailureSide side)
        : result_(result), reason_(std::move(reason)), detail_(std::move(detail)), side_(side) {}

    // A writer could not finish its object (image, page, ...).
    static ConversionError writer(Result writer, std::string detail = {});
    // The TIFF cannot be read or is refused.
    static ConversionError input(Result result, std::string reason, std::string detail = {});
    // The PDF cannot be created, written or put in place.
    static ConversionError output(Result result, std::string reason, std::string detail = {});
    // The caller asked the run to stop.
    static ConversionError cancelled();

    const char* what() const noexcept override {
        return detail_.empty() ? reason_.c_str() : detail_.c_str();
    }
    Result result() const { return result_; }
    // The public integer result: writers' codes end the run with 0.
    int publicResult() const;
    const std::string& reason() const { return reason_; }
    const std::string& detail() const { return detail_; }
    FailureSide side() const { return side_; }
    bool isCancellation() const { return cancelled_; }

  private:
    Result result_;
    std::string reason_;
    std::string detail_;
    FailureSide side_;
    bool cancelled_ = false;
};

// Runs a writer's body; any failure that is not already a ConversionError
// becomes the writer's own, keeping what it said.
template <typename Body>
auto guardWriter(Result writer, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const ConversionError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ConversionError::writer(Result::Allocation, "out of memory");
    } catch (const std::exception& failure) {
        throw ConversionError::writer(writer, failure.what());
    }
}

}  // namespace quorvex
