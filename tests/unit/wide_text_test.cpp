#include "wide_text.h"

#include <gtest/gtest.h>

namespace {

using windows_support::longPathOfFull;
using windows_support::toUtf8;
using windows_support::toWide;

// UTF-16 units and their UTF-8 bytes, both ways: each boundary of the 1-, 2-,
// 3- and 4-byte forms, pairs, and lone surrogates in their own three bytes.
TEST(WideText, Samples) {
    struct Case {
        std::wstring wide;
        std::string text;
    } cases[] = {
        {{}, ""},
        {{L'A', 0x7F}, "A\x7F"},
        {{0x80, 0xE4, 0x7FF}, "\xC2\x80\xC3\xA4\xDF\xBF"},
        {{0x800, 0xD7FF, 0xE000, 0xFFFF}, "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
        {{0xD800, 0xDC00}, "\xF0\x90\x80\x80"},  // U+10000
        {{0xD83D, 0xDE00, 0xD83D, 0xDC00}, "\xF0\x9F\x98\x80\xF0\x9F\x90\x80"},
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},                 // U+10FFFF
        {{0xD83D, 0xE000}, "\xED\xA0\xBD\xEE\x80\x80"},         // high, then no low
        {{0xD800, 0xDBFF}, "\xED\xA0\x80\xED\xAF\xBF"},         // two highs
        {{0xDC00, L'x', 0xD800}, "\xED\xB0\x80x\xED\xA0\x80"},  // low first, high last
        {{0xDC00, 0xDC00}, "\xED\xB0\x80\xED\xB0\x80"},         // two lows
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.text, toUtf8(c.wide)) << c.text;
        std::wstring wide = L"stale";
        EXPECT_TRUE(toWide(c.text, wide)) << c.text;
        EXPECT_EQ(c.wide, wide) << c.text;
    }
}

// Bytes that are no such text: a name made of them would be another name.
TEST(WideText, RefusedBytes) {
    const std::string cases[] = {
        std::string("a\0b", 3),  // cuts a name short
        "\x80",                  // continuation first
        "\xC1\xBF",              // overlong U+007F
        "\xE0\x9F\xBF",          // overlong U+07FF
        "\xF0\x8F\xBF\xBF",      // overlong U+FFFF
        "\xF4\x90\x80\x80",      // past U+10FFFF
        "\xF5\x80\x80\x80",
        "\xE2\x82",      // cut short
        "\xE2\x28\xA1",  // no continuation
        "\xF0\x9F\x98\x28",
    };
    for (const std::string& text : cases) {
        std::wstring wide;
        EXPECT_FALSE(toWide(text, wide)) << text;
    }
}

TEST(WideText, LongPaths) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L""},
        {L"C:\\a", L"\\\\?\\C:\\a"},
        {L"\\\\srv\\share\\a", L"\\\\?\\UNC\\srv\\share\\a"},
        {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
        {L"\\\\.\\pipe\\a", L"\\\\.\\pipe\\a"},
    };
    for (const auto& [full, long_] : cases) {
        EXPECT_EQ(long_, longPathOfFull(full));
    }
}

}  // namespace
