#include "cli/TextEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::cli {
namespace {

struct EscapeCase {
    const char* what;
    std::string text;
    std::string shown;   // printable(): for the terminal
    std::string asUtf8;  // validUtf8(): for JSON
};

// Control characters and broken UTF-8 become \xNN byte by byte; text in
// other scripts stays readable; a backslash doubles so the escapes read back.
TEST(TextEscapeTest, EscapesControlsAndInvalidUtf8ByteByByte) {
    const EscapeCase cases[] = {
        {"plain", "scan 1.tif", "scan 1.tif", "scan 1.tif"},
        {"escape sequence", "a\033[2Jb", "a\\x1b[2Jb", "a\033[2Jb"},
        {"newline, tab, return", "a\nb\tc\rd", "a\\x0ab\\x09c\\x0dd", "a\nb\tc\rd"},
        {"NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7f", std::string("a\0b\x7f", 4)},
        {"C1 NEL", "a\xc2\x85z", "a\\xc2\\x85z", "a\xc2\x85z"},
        {"C1 CSI",
         "\xc2\x9b"
         "31m",
         "\\xc2\\x9b31m",
         "\xc2\x9b"
         "31m"},
        {"no-break space is text", "a\xc2\xa0z", "a\xc2\xa0z", "a\xc2\xa0z"},
        {"Latin, Greek, CJK, emoji", "Zo\xc3\xab \xce\xb1 \xe5\xb1\xa5 \xf0\x9f\x93\x84",
         "Zo\xc3\xab \xce\xb1 \xe5\xb1\xa5 \xf0\x9f\x93\x84",
         "Zo\xc3\xab \xce\xb1 \xe5\xb1\xa5 \xf0\x9f\x93\x84"},
        {"Latin-1 byte", "caf\xe9.tif", "caf\\xe9.tif", "caf\\xe9.tif"},
        {"stray continuation", "a\x80z", "a\\x80z", "a\\x80z"},
        {"cut sequence", "a\xe2\x82", "a\\xe2\\x82", "a\\xe2\\x82"},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},
        {"overlong three bytes", "\xe0\x80\xaf", "\\xe0\\x80\\xaf", "\\xe0\\x80\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\\xf4\\x90\\x80\\x80"},
        {"0xFF", "\xff", "\\xff", "\\xff"},
        {"backslash", "a\\b", "a\\\\b", "a\\b"},
        {"backslash beside a bad byte", "a\\\xff", "a\\\\\\xff", "a\\\\\\xff"},
    };
    for (const EscapeCase& c : cases) {
        EXPECT_EQ(printable(c.text), c.shown) << c.what;
        EXPECT_EQ(validUtf8(c.text), c.asUtf8) << c.what;
        EXPECT_TRUE(isValidUtf8(validUtf8(c.text))) << c.what;
        const std::string shown = printable(c.text);
        for (const char ch : shown) {
            const auto byte = static_cast<unsigned char>(ch);
            EXPECT_TRUE(byte >= 0x20 && byte != 0x7F) << c.what;
        }
    }
}

}  // namespace
}  // namespace quorvex::cli
