// Failures raised inside a conversion and turned into a result and a message
// by the converter's failure guard.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvex {

// Integer failure codes, each naming the writer that could not finish.
enum FailureCode : int {
    kImageObjectFailure = -10,
    kAllocationFailure = -11,
    kProcSetObjectFailure = -12,
    kContentStreamFailure = -13,
    kPageObjectFailure = -14,
    kPagesObjectFailure = -15,
    kCatalogObjectFailure = -16,
    kInfoObjectFailure = -17,
};

// The short reason text of a failure code.
const char* reasonForCode(int code);

// Raised by a writer with its failure code; `detail` says what went wrong for
// callers that show more than the message (command line -v, window tooltip).
class EngineFailure : public std::runtime_error {
  public:
    explicit EngineFailure(int code, const std::string& detail = {})
        : std::runtime_error(detail.empty() ? reasonForCode(code) : detail), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// The output could not be written (disk full, I/O error, file too large).
class OutputFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The caller asked the run to stop.
class ConversionCancelled : public std::runtime_error {
  public:
    ConversionCancelled() : std::runtime_error("Conversion cancelled.") {}
};

// Runs a writer's body; any failure other than an output failure, a
// cancellation or an engine failure becomes the writer's own failure code.
template <typename Body>
auto guardWriter(int code, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const OutputFailure&) {
        throw;
    } catch (const ConversionCancelled&) {
        throw;
    } catch (const EngineFailure&) {
        throw;
    } catch (...) {
        throw EngineFailure(code);
    }
}

}  // namespace quorvex
