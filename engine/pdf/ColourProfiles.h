// The ICC profiles of one document: each distinct profile becomes one
// /ICCBased stream, written after the length object of the first page that
// carries it, and every page with the same bytes names that one object.
// Which pages carry which profile is known before any number is handed out
// (TiffDocument reads the keys while counting pages), so the stream is an
// extra of its first page and numbered in write order like everything else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/pdf/ObjectNumbers.h"

namespace quorvex {

struct ImagePlan;
class TiffDocument;

// What one page contributes: the texts of its extra objects (after their
// "N 0 obj" line) and what was left out, in words.
struct PageProfileObjects {
    std::vector<std::string> extras;
    std::vector<std::string> notes;
};

constexpr int kAnyIccVersion = 255;

class DocumentProfiles {
  public:
    // `pageKeys`: each page's profile key across the whole PDF, 0 for none.
    // Profiles of an ICC version above `newestVersion` are left out (PDF/A-1
    // takes version 2 at most).
    explicit DocumentProfiles(std::vector<uint64_t> pageKeys = {},
                              int newestVersion = kAnyIccVersion);

    // The extra objects page `page` writes: one for the first page of each
    // distinct profile.
    uint32_t extrasOf(uint32_t page) const;
    // Learns the profile streams' numbers once they are handed out.
    void takeNumbers(const DocumentObjectNumbers& numbers);

    // For the selected page `page`: points its plan's colour space at its
    // profile's object when the profile fits the image written, and gives the
    // profile stream the page writes, if any. Pages are given in order.
    PageProfileObjects applyTo(uint32_t page, const TiffDocument& document,
                               const std::string& pageName, ImagePlan& plan);

  private:
    std::vector<uint64_t> keys_;
    int newestVersion_;
    std::map<uint64_t, uint32_t> firstPage_;  // key to the first page carrying it
    std::map<uint64_t, uint64_t> objects_;    // key to its stream's object number
    // The bytes behind each key written so far: a later page shares the
    // stream only when its bytes are these.
    std::map<uint64_t, std::vector<uint8_t>> written_;
};

// Whether the selected page's own profile will stand for its colours: well
// formed and of the colour space of the image written. Such a page names no
// device colour space, so an archival file needs no output intent for it.
bool ownProfileFits(const TiffDocument& document, const ImagePlan& plan,
                    int newestVersion = kAnyIccVersion);

// The text of an /ICCBased stream object holding `profile` (Flate-compressed)
// for `components` components.
std::string iccStreamObject(const std::vector<uint8_t>& profile, uint16_t components);

}  // namespace quorvex
