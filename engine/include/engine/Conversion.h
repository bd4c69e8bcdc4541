// The engine's rich entry point: one TIFF file in, one PDF file out, with the
// reason text, the detail, the damage found, the path written and cooperative
// cancellation, for callers that show them (the command line and the window).
// TiffToPdf.h holds the plain nine-argument entry, which runs the same
// conversion and keeps only its integer result.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace quorvex {

// Web address written as author and producer and at the end of the keywords.
inline constexpr const char* kVendorAddress = "https://www.quorvex.example";

// The texts written into a PDF's document information dictionary.
struct DocumentInfo {
    std::string creator;
    std::optional<std::string> creationDate;  // empty optional: today's local date
    std::string author;
    std::string producer;
    std::string title;
    std::string subject;
    std::string keywords;

    // The fixed values the window passes for every file.
    static DocumentInfo applicationDefaults();
};

// Flate levels of the image streams, on libdeflate's scale: 0 stores, 12 is
// the smallest and slowest.
inline constexpr int kDefaultFlateLevel = 6;
inline constexpr int kCompactFlateLevel = 12;
inline constexpr int kMaxFlateLevel = 12;

// The memory a run may hold for page samples waiting to be compressed (pages
// read ahead and pieces of large pages together), when the caller sets none:
// enough for two A3 colour scans at 300 dpi, little for a desktop.
inline constexpr uint64_t kDefaultMemoryBudget = uint64_t{256} << 20;

// How the standard profile compresses a large page when several threads run:
// in pieces cut while the page is read, on every free thread, joined into one
// stream. Smaller pages are compressed whole, side by side.
struct FlatePieceSettings {
    // Samples a piece holds; 0 takes a length suited to the level (short
    // enough that a cancelled run stops soon).
    std::size_t pieceBytes = 0;
    // Pages whose samples reach this many bytes are split. Below it the
    // join (an inflate of every piece) costs more than the threads win.
    uint64_t splitThreshold = uint64_t{16} << 20;
};

// Which PDF the engine writes. Classic is the window's file, byte for byte
// what it has always been (its header says 1.2 whatever the pages hold).
// Standard is the command line's: the /ProcSet of a page names the image
// actually written, the header names the lowest version the pages need (1.4,
// or 1.5 for 16-bit images) followed by a binary comment line, the trailer
// carries an /ID made from the content, and SOURCE_DATE_EPOCH, when set, is
// the creation date of a document given none. Later profiles add to Standard.
enum class OutputProfile { Classic, Standard };

// Archival PDF (PDF/A) levels. Both keep the look of the pages only (the
// "b" conformance); 1b also forbids 16-bit images and transparency.
enum class ArchivalLevel { PdfA1b, PdfA2b };

// Everything that shapes the PDF and how the run goes, carried unchanged from
// the command line's or the window's settings to the writers.
struct ConversionOptions {
    OutputProfile profile = OutputProfile::Classic;

    // Threads that compress page images (the converting thread included);
    // 0 is one per processor. The PDF is the same whatever the number.
    unsigned threads = 0;

    // Dots per inch for pages that carry no resolution; 0 keeps the usual 200.
    double defaultDpi = 0;
    // Dots per inch for every page, whatever the file says; 0 keeps the file's.
    double forcedDpi = 0;

    // Damage fails the conversion instead of being reported as warnings: no
    // PDF is written and an existing one stays as it was.
    bool strict = false;

    // Flate level (0 to kMaxFlateLevel); unset: kDefaultFlateLevel, or
    // kCompactFlateLevel with `compact`.
    std::optional<int> flateLevel;
    // The smallest PDF that keeps the content: JPEG pages keep their JPEG
    // data even where readers draw the rows at strip boundaries a little
    // differently from libtiff, bilevel pages are coded as CCITT Group 4 or
    // 1-bit Flate, whichever is smaller, and Flate runs at its slowest level.
    // The standard profile keeps JPEG data and codes bilevel pages that way
    // without it wherever readers draw libtiff's pixels; the classic profile
    // carries every page as the compression table says.
    bool compact = false;
    // Every page that is not fax data is written decoded, as the compression
    // table says (no JPEG data kept, no bilevel page coded again); with
    // `compact` only its Flate level remains.
    bool losslessDecode = false;

    // Memory for samples in flight, see kDefaultMemoryBudget. A page larger
    // than the whole budget still converts: it streams through it.
    uint64_t memoryBudget = kDefaultMemoryBudget;
    FlatePieceSettings flatePieces;

    // Writes PDF/A at this level on top of the standard profile (whatever
    // `profile` says): XMP metadata, an output intent, the header the level
    // names. A page the level cannot carry fails the run with the reason.
    std::optional<ArchivalLevel> archival;
    // An ICC output profile (device class 'prtr', CMYK) named as the output
    // intent of archival files with CMYK pages; read when a run needs it.
    std::string outputIntentPath;

    int effectiveFlateLevel() const {
        return flateLevel.value_or(compact ? kCompactFlateLevel : kDefaultFlateLevel);
    }
};

struct ConversionRequest {
    std::string inputPath;
    // Further TIFF files whose pages follow inputPath's, in order, in the same
    // PDF (merging). Empty for the usual one file in, one PDF out.
    std::vector<std::string> mergedInputs;
    // When set, the TIFF is read from these bytes instead of from inputPath,
    // which then only names it in messages (standard input on the command line).
    std::shared_ptr<const std::vector<uint8_t>> inputBytes;
    std::string outputPath;  // empty: derived from inputPath (see deriveOutputPath)
    DocumentInfo info = DocumentInfo::applicationDefaults();
    ConversionOptions options;

    // Set from any thread to stop the run; checked between pages and between
    // strips or rows. A cancelled run fails cleanly and leaves nothing behind.
    const std::atomic<bool>* cancel = nullptr;

    // Called on the converting thread after each page is written.
    std::function<void(uint32_t pagesDone, uint32_t pageCount)> onPageDone;
};

// Why a conversion failed, in the terms a user acts on.
enum class FailureKind {
    None,
    InputUnreadable,  // the TIFF cannot be opened or read
    InputRefused,     // readable, but nothing this converter can turn into a PDF
    TooLarge,         // past the converter's limits or the memory at hand
    OutputFailed,     // the PDF cannot be created, written or put in place
    Cancelled,        // the caller asked the run to stop
    Internal,         // a fault of the converter itself
};

// How a kind reads in a message: "cannot read the TIFF", "cannot create the PDF", ...
const char* failureKindText(FailureKind kind);

struct ConversionOutcome {
    int result = 0;  // 1 when the PDF was written completely
    FailureKind failure = FailureKind::None;
    std::string detail;  // what exactly went wrong (e.g. "No such file or directory")
    // The historic reason text of the plain entry (TiffToPdf.h), e.g. "Unable
    // to open file."; kept for callers that match on it, not for showing.
    std::string message;
    std::string outputPath;     // the PDF written (or that would have been written)
    uint32_t pageCount = 0;     // pages in the input (0 when it could not be opened)
    uint64_t bytesWritten = 0;  // size of the finished PDF
    std::string diagnostic;     // libtiff's own warning/error text for this file, if any
    // Parts of the TIFF that could not be read although the PDF was written,
    // one line each, e.g. "page 1, rows 54-600 unreadable (LZW: Using code
    // not yet in table)" or "the file ends after page 4: directory 5 cannot be
    // read". The PDF shows everything else.
    std::vector<std::string> warnings;
    // What was left out on purpose, once each, e.g. "2 subfiles skipped
    // (reduced-resolution copies and transparency masks)": not damage.
    std::vector<std::string> notes;

    bool ok() const { return result == 1; }
    bool damaged() const { return !warnings.empty(); }
    bool cancelled() const { return failure == FailureKind::Cancelled; }
};

// Converts one file. Never throws; every failure is reported in the outcome.
ConversionOutcome convertTiff(const ConversionRequest& request);

// The output name the engine derives for an input: ".tif" or ".tiff" (any
// case) is replaced by ".pdf" ("SCAN.TIF" -> "SCAN.pdf"); any other name gets
// ".pdf" appended ("image" -> "image.pdf"). Empty only for an empty input.
std::string deriveOutputPath(const std::string& inputPath);

// Which files of a folder are TIFF files to convert. The command line and the
// window both expand folders by this one rule, so a folder converts the same
// files whichever way it was handed in.
// The folder scan's name rule: ends in ".tif" or ".tiff" (any letter case)
// and is not hidden (macOS "._scan.tif" files are resource forks, not TIFFs).
bool hasTiffName(const std::string& fileName);

// Folders a scan does not enter: hidden ones (".git", ".Trash-1000").
bool isHiddenName(const std::string& name);

struct UnreadableFolder {
    std::filesystem::path folder;
    std::error_code error;
};

struct TiffFolderListing {
    // Regular files with a TIFF name, sorted element by element so that a
    // folder's files stay together and runs repeat whatever order the file
    // system lists them in.
    std::vector<std::filesystem::path> files;
    // Folders that could not be read; the others are still listed.
    std::vector<UnreadableFolder> unreadable;
    // Links with a TIFF name that lead to no file, so nothing is left out silently.
    std::vector<std::filesystem::path> danglingLinks;
};

// The TIFF files of a folder, and of its sub-folders when recursive (hidden
// sub-folders and links to folders left out, so a link cycle cannot loop).
TiffFolderListing listTiffFolder(const std::filesystem::path& folder, bool recursive);

}  // namespace quorvex
