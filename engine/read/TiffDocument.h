// The engine's handle on one TIFF file: counts its pages, keeps one page
// selected and holds that page's layout, read once when it is selected.
// Pages are the directories that are not reduced-resolution copies or
// transparency masks of another (NewSubfileType bits 0 and 2); those are
// skipped, as libtiff's own tiff2pdf skips them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/read/PageLayout.h"
#include "engine/read/TiffHandle.h"

namespace quorvex {

class TiffDocument {
  public:
    // Directory numbers are 16-bit in the file format's tradition; pages past
    // this are not counted.
    static constexpr int32_t kMaxPages = 65535;

    TiffDocument() = default;
    ~TiffDocument() { close(); }  // the handle goes before the bytes it reads
    TiffDocument(const TiffDocument&) = delete;
    TiffDocument& operator=(const TiffDocument&) = delete;

    // Opens `path` for reading, counts its pages and selects page 0. Only
    // regular files are opened: a FIFO, socket, device or folder is refused
    // without blocking, and so is a file with a page whose compression this
    // libtiff cannot decode. Throws ConversionError (Refused) saying why not.
    void open(const std::string& path);
    // Opens a TIFF held in memory the same way; `name` only names it.
    void openMemory(std::shared_ptr<const std::vector<uint8_t>> bytes, const std::string& name);

    // Resolution in dots per inch given to pages that carry none; 0 leaves
    // them to the page geometry's usual 200.
    void setDefaultResolution(float dotsPerInch) { defaultDpi_ = dotsPerInch; }
    // Resolution given to every page whatever it carries; 0 keeps the file's.
    void setForcedResolution(float dotsPerInch) { forcedDpi_ = dotsPerInch; }
    void close();

    // Selects page `page` (below getPageCount()) and reads its layout.
    // Returns false when libtiff cannot read that directory.
    bool selectPage(int32_t page);

    int32_t getPageCount() const { return pageCount_; }
    int32_t getCurrentPage() const { return currentPage_; }
    const PageLayout& page() const { return page_; }
    TIFF* handle() const { return tiff_.get(); }

    // Set when the page count stopped at a directory that could not be read
    // or at a link back to an earlier one (rather than at the end of the
    // chain): what the file lost, in words.
    const std::string& truncation() const { return truncation_; }
    // Reduced-resolution copies and transparency masks left out of the pages.
    uint32_t skippedSubfiles() const { return skippedSubfiles_; }
    // Each page's ICC profile as iccProfileKey names it, 0 for a page without
    // one or with one that cannot apply to its samples: read while the pages
    // are counted, so a document knows its distinct profiles before writing.
    const std::vector<uint64_t>& profileKeys() const { return profileKeys_; }

    TiffDiagnostics& diagnostics() { return diagnostics_; }
    const TiffDiagnostics& diagnostics() const { return diagnostics_; }

  private:
    void finishOpen();
    void scanDirectories();
    void takeDirectory(tdir_t directory);
    void describeBrokenChain(std::size_t mark, const std::vector<uint64_t>& offsetsSeen);
    void refuseUndecodablePages() const;
    bool readDirectory(tdir_t directory);
    void loadPage();
    void applyResolutionChoice();

    TiffPtr tiff_;
    PageLayout page_;
    int32_t pageCount_ = 0;
    int32_t currentPage_ = 0;
    std::vector<tdir_t> pageDirectories_;  // the directory of each page
    std::vector<uint16_t> compressions_;   // of every directory read, pages or not
    std::vector<uint64_t> profileKeys_;    // of every page
    uint32_t skippedSubfiles_ = 0;
    std::string truncation_;
    TiffDiagnostics diagnostics_;
    std::unique_ptr<MemoryFile> memory_;
    float defaultDpi_ = 0;
    float forcedDpi_ = 0;
};

}  // namespace quorvex
