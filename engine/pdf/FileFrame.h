// What the standard profile puts around the objects: a header naming the
// lowest version the document's features need, followed by a line of bytes
// above 127 (so that transfer programs treat the file as binary), and a
// trailer identifier made from the content. The classic profile writes
// neither; its header has always said 1.2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/Conversion.h"
#include "engine/encode/Md5.h"

namespace quorvex {

struct ImagePlan;
class PageSource;

// The minor number of a "1.x" version.
using PdfMinorVersion = int;

// The lowest version that can carry `plan`'s image: 16 bits a component
// arrived with 1.5; everything else the engine writes is 1.4's.
PdfMinorVersion minorVersionFor(const ImagePlan& plan);

// The lowest version any page of `pages` needs. Plans every page once more
// before anything is written, since the header comes first.
PdfMinorVersion minorVersionFor(PageSource& pages);

// "%PDF-1.x" and the binary comment line.
std::string standardHeader(PdfMinorVersion minor);

// The creation date a document gets when none was given: the time in
// SOURCE_DATE_EPOCH (in UTC, so builds repeat in any time zone) when it holds
// a number, otherwise now in local time; the classic profile always takes now.
std::string defaultCreationDate(OutputProfile profile);

// The trailer's "/ID [<...> <...>]" entry: both halves are one digest of the
// file's bytes before the trailer (the document information among them), so
// equal inputs and options give equal files.
class DocumentIdentity {
  public:
    void addContent(uint32_t crc32, uint64_t size);
    std::string trailerEntry();

  private:
    Md5 digest_;
};

}  // namespace quorvex
