#include "cli/TextEscape.h"

#include <array>
#include <cstdint>

namespace quorvex::cli {
namespace {

// The length of the valid UTF-8 sequence starting at `at`, or 0 when the
// byte there does not start one (stray continuation bytes, overlong forms,
// surrogates and code points past U+10FFFF are all invalid).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[at + i]); };
    const auto continuation = [&](std::size_t i) {
        return at + i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2))
            return 0;
        const uint8_t second = byte(1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F))
            return 0;  // overlong, or a UTF-16 surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        const uint8_t second = byte(1);
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
            return 0;  // overlong, or past U+10FFFF
        return 4;
    }
    return 0;
}

bool isControl(std::string_view text, std::size_t at, std::size_t length) {
    const auto lead = static_cast<uint8_t>(text[at]);
    if (length == 1)
        return lead < 0x20 || lead == 0x7F;
    // U+0080..U+009F are C2 80..C2 9F.
    return length == 2 && lead == 0xC2 && static_cast<uint8_t>(text[at + 1]) <= 0x9F;
}

void appendHex(std::string& out, std::string_view bytes) {
    static constexpr std::array<char, 16> kDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                                  '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        out += "\\x";
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
}

// Walks the text sequence by sequence; `escapeControls` also escapes the
// valid control characters.
std::string escaped(std::string_view text, bool escapeControls) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0) {
            appendHex(out, text.substr(at, 1));
            ++at;
            continue;
        }
        const std::string_view sequence = text.substr(at, length);
        if (sequence == "\\")
            out += "\\\\";
        else if (escapeControls && isControl(text, at, length))
            appendHex(out, sequence);
        else
            out += sequence;
        at += length;
    }
    return out;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string printable(std::string_view text) {
    return escaped(text, true);
}

std::string validUtf8(std::string_view text) {
    if (isValidUtf8(text))
        return std::string(text);
    return escaped(text, false);
}

}  // namespace quorvex::cli
