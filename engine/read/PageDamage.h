// What one page lost while its samples were read: the rows libtiff could not
// decode and its first word on why. The page is still written as far as it
// could be read; the loss is reported, never hidden.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvex {

class TiffDiagnostics;

class PageDamage {
  public:
    explicit PageDamage(const TiffDiagnostics& diagnostics) : diagnostics_(diagnostics) {}

    // A mark taken before one piece of the page (a row, a strip, a band) is
    // decoded, for check().
    std::size_t mark() const;
    // Records rows [firstRow, lastRow] (0-based) as lost when the piece's read
    // failed or libtiff said, since `mark`, that it lost pixels.
    void check(std::size_t mark, bool failed, uint32_t firstRow, uint32_t lastRow);
    // After a band of `rows` rows from `top` was read and `intact` of them,
    // from its top, decoded: records the rows below as lost, or the whole
    // band when libtiff said since `mark` that it lost pixels there.
    void checkBand(std::size_t mark, uint32_t top, uint32_t intact, uint32_t rows);
    // After a fax band was read: records the lines libtiff's fax decoder
    // named since `mark`, and when it gave up (`intact` below `rows`), the
    // rest of the band from the last line it named.
    void checkFaxBand(std::size_t mark, uint32_t top, uint32_t intact, uint32_t rows);
    // Records rows as lost for a reason of the engine's own.
    void lose(uint32_t firstRow, uint32_t lastRow, const std::string& why);

    bool any() const { return !ranges_.empty(); }
    // "page 3, rows 54–600 unreadable (LZWDecode: ...)", `page` naming the
    // page ("page 3").
    std::string describe(const std::string& page) const;

  private:
    const TiffDiagnostics& diagnostics_;
    std::vector<std::pair<uint32_t, uint32_t>> ranges_;  // in reading order, merged when adjacent
    std::string why_;
};

}  // namespace quorvex
