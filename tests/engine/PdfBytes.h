#pragma once

// Reads the objects of a PDF written by the engine straight from its bytes:
// the cross-reference table gives each object's position, so a test can look
// at one object's exact text, split an image dictionary into its lines and
// take the raw bytes of its stream.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pdfbytes {

class PdfBytes {
  public:
    explicit PdfBytes(std::string bytes);
    static PdfBytes load(const std::filesystem::path& pdf);

    const std::string& bytes() const { return bytes_; }
    std::size_t objectCount() const { return offsets_.size(); }

    // The object's text from its "N 0 obj" line up to and including "endobj\r".
    // Throws when the table has no such object or it is not where the table says.
    std::string objectText(uint64_t number) const;

    // The dictionary of an object: from its first "<<" up to the "stream\r\n"
    // line (exclusive) for a stream object, up to "endobj" otherwise.
    std::string dictionary(uint64_t number) const;

    // The stream's data bytes: exactly /Length bytes after "stream\r\n", the
    // length read through the indirect reference when there is one. Throws
    // when "\rendstream" does not follow them.
    std::string streamData(uint64_t number) const;

    // The integer a bare length object (or any object holding one) states.
    uint64_t integerObject(uint64_t number) const;

    // Page p's image: the p-th object, in number order, whose dictionary says
    // "/Subtype /Image". Throws when there are fewer.
    uint64_t imageObject(uint64_t page) const;
    // The object the image's /Length refers to.
    uint64_t lengthObject(uint64_t page) const;
    std::string imageDictionary(uint64_t page) const { return dictionary(imageObject(page)); }
    std::string imageStream(uint64_t page) const { return streamData(imageObject(page)); }
    // Whether the object is an image, and which object holds an image's length.
    bool isImage(uint64_t number) const;

  private:
    std::string bytes_;
    std::map<uint64_t, uint64_t> offsets_;
};

// Splits dictionary text into lines, each keeping its line end ("\r" or
// "\r\n"), so exact line texts can be compared.
std::vector<std::string> splitLines(const std::string& text);

// The first line that starts with `key`, or an empty string.
std::string lineStartingWith(const std::string& text, const std::string& key);

// Undoes zlib compression; throws when the data is not one complete zlib
// stream (trailing bytes after its end included).
std::string inflate(const std::string& compressed);

}  // namespace pdfbytes
