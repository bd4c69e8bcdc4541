// The engine's handle on one TIFF file: counts its pages, keeps one page
// selected and caches the tag values of that page that the PDF writers use.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/tiff/TiffHandle.h"

namespace quorvex {

struct PaletteEntry {
    int red = 0;
    int green = 0;
    int blue = 0;
};

class TiffDocument {
  public:
    // Directory numbers are 16-bit in the file format's tradition; pages past
    // this are not counted.
    static constexpr int32_t kMaxPages = 65535;

    TiffDocument() = default;
    ~TiffDocument() { tiff.reset(); }  // before the bytes it may read from
    TiffDocument(const TiffDocument&) = delete;
    TiffDocument& operator=(const TiffDocument&) = delete;

    // Opens `path`. With a null mode the file is opened for reading, its pages
    // are counted and page 0 is selected; with a mode (e.g. "w") it is opened
    // as libtiff's mode says and nothing is read. Returns 1 or 0.
    int open(const char* path, const char* mode = nullptr);
    // Same, on an already open descriptor (used for files created exclusively).
    int openFd(int fd, const char* path, const char* mode);
    // Opens a TIFF held in memory for reading; `name` only names it.
    int openMemory(std::shared_ptr<const std::vector<uint8_t>> bytes, const char* name);

    // Resolution given to pages that carry none (or zero); 200 unless set.
    void setDefaultResolution(float dotsPerInch) { defaultResolution_ = dotsPerInch; }
    void close();

    // Selects page `page` (below getPageCount()) and loads its fields.
    // Returns false when libtiff cannot read that directory.
    bool selectPage(int32_t page);

    int32_t getPageCount() const { return pageCount; }
    int32_t getCurrentPage() const { return currentPage; }
    int isFaxCompressed() const { return compression == 3 || compression == 4 ? 1 : 0; }

    // Fills 1 << bitsPerSample entries for the selected page. Returns false
    // when a palette page has no colour map or the palette would be too large.
    bool buildPalette(std::vector<PaletteEntry>& palette) const;

    TiffDiagnostics& diagnostics() { return diagnostics_; }
    const TiffDiagnostics& diagnostics() const { return diagnostics_; }

    // Read by the writers directly, like a plain record.
    TiffPtr tiff;
    uint32_t imageLength = 0;
    uint32_t imageWidth = 0;
    uint16_t bitsPerSample = 0;
    uint16_t samplesPerPixel = 0;
    uint32_t rowsPerStrip = 0;
    uint16_t photometric = 0;
    uint16_t compression = 0;
    uint16_t orientation = 0;
    float xResolution = 0;
    float yResolution = 0;
    float xPosition = 0;
    float yPosition = 0;
    int32_t pageCount = -1;
    int32_t currentPage = 0;
    int32_t isFullColor = 0;
    uint16_t resolutionUnit = 0;  // ResolutionUnit (296); 0 when absent

  private:
    void reset();
    int finishOpen(const char* mode);
    void countPages();
    void loadPageFields();

    TiffDiagnostics diagnostics_;
    std::unique_ptr<MemoryFile> memory_;
    float defaultResolution_ = 200.0F;
};

}  // namespace quorvex
