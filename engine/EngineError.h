// The engine's one error model. Every failure inside a conversion is raised
// as a ConversionError carrying its kind (what the user acts on), the detail
// (libtiff's, zlib's or the system's own words) and the historic reason it
// has always been reported with by the plain entry. The two entries
// (TiffToPdf and convertTiff) turn it into their results; elsewhere it is
// only passed through (guardWriter) or given the name of the merged input it
// is about.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "engine/Conversion.h"

namespace quorvex {

// The reasons the plain entry has always given (see LegacyText), one per
// place a run could end. The writers' reasons carry their historic negative
// codes in their text; callers match on these texts, so they stay as they were.
enum class LegacyReason {
    UnableToOpen,
    UnableToWrite,
    CmykRefused,
    Damaged,
    InvalidFax,
    UnsupportedCompression,
    NoFileName,
    Cancelled,
    ImageObject,
    Allocation,
    ProcSetObject,
    ContentStream,
    PageObject,
    PagesObject,
    CatalogObject,
    InfoObject,
    General,
};

// A legacy reason's text and the integer result TiffToPdf returns with it.
struct LegacyText {
    const char* text;
    int result;
};
LegacyText legacyTextOf(LegacyReason reason);

class ConversionError : public std::exception {
  public:
    ConversionError(FailureKind kind, std::string detail, LegacyReason legacy)
        : kind_(kind), detail_(std::move(detail)), legacy_(legacy) {}

    // The TIFF cannot be opened or its data cannot be read.
    static ConversionError unreadable(std::string detail,
                                      LegacyReason legacy = LegacyReason::ImageObject) {
        return {FailureKind::InputUnreadable, std::move(detail), legacy};
    }
    // The TIFF is read but holds nothing this converter can write.
    static ConversionError refused(std::string detail, LegacyReason legacy) {
        return {FailureKind::InputRefused, std::move(detail), legacy};
    }
    // Past a limit, or more memory than there is.
    static ConversionError tooLarge(std::string detail,
                                    LegacyReason legacy = LegacyReason::ImageObject) {
        return {FailureKind::TooLarge, std::move(detail), legacy};
    }
    // An allocation the page asked for could not be had.
    static ConversionError outOfMemory(std::string detail) {
        return {FailureKind::TooLarge, std::move(detail), LegacyReason::Allocation};
    }
    // The PDF cannot be created, written or put in place.
    static ConversionError outputFailed(std::string detail, LegacyReason legacy) {
        return {FailureKind::OutputFailed, std::move(detail), legacy};
    }
    // A fault of the converter itself (a compressor refusing its input, ...).
    static ConversionError internal(std::string detail,
                                    LegacyReason legacy = LegacyReason::ImageObject) {
        return {FailureKind::Internal, std::move(detail), legacy};
    }
    static ConversionError cancelled() {
        return {FailureKind::Cancelled, {}, LegacyReason::Cancelled};
    }

    const char* what() const noexcept override {
        return detail_.empty() ? failureKindText(kind_) : detail_.c_str();
    }
    FailureKind kind() const { return kind_; }
    const std::string& detail() const { return detail_; }
    LegacyReason legacy() const { return legacy_; }
    bool isCancellation() const { return kind_ == FailureKind::Cancelled; }
    // The same failure with its detail prefixed, e.g. by the file it is about.
    ConversionError about(const std::string& subject) const {
        return {kind_, subject + ": " + what(), legacy_};
    }

  private:
    FailureKind kind_;
    std::string detail_;
    LegacyReason legacy_;
};

// Runs a writer's body; any failure that is not already a ConversionError
// becomes one in the writer's name, keeping what it said. The image writer
// reads the TIFF, so its unnamed failures are the input's; the other writers
// only format text, so theirs are the converter's own.
template <typename Body>
auto guardWriter(LegacyReason writer, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const ConversionError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ConversionError::tooLarge("out of memory", LegacyReason::Allocation);
    } catch (const std::exception& failure) {
        const FailureKind kind = writer == LegacyReason::ImageObject ? FailureKind::InputUnreadable
                                                                     : FailureKind::Internal;
        throw ConversionError(kind, failure.what(), writer);
    }
}

}  // namespace quorvex
