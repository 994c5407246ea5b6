// UTF-8 to wide and back: valid text round-trips, every byte that is not UTF-8 becomes U+FFFD.
#include "platform/WideStrings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Utf8Text.h"

namespace {

struct DecodeCase {
    const char *szName;
    std::string strBytes;
    std::wstring wstrExpected;
    bool bValid;
};

TEST(WideStringsTest, DecodingTable) {
    const wchar_t R = FXWideString::kReplacementCharacter;
    const std::vector<DecodeCase> vecCases = {
        {"empty", "", L"", true},
        {"ascii with controls", std::string("a\x00\x7f", 3), std::wstring(L"a\0\x7f", 3), true},
        {"two bytes", "\xC3\x9F", L"\x00DF", true},
        {"three bytes", "\xE2\x82\xAC", L"\x20AC", true},
        {"U+FFFE decodes", "\xEF\xBF\xBE", L"\xFFFE", true},
        {"four bytes", "\xF0\x9F\x98\x80", std::wstring(1, static_cast<wchar_t>(0x1F600)), true},
        {"latin-1 byte", "caf\xE9", std::wstring(L"caf") + R, false},
        {"stray continuation", "\x80", std::wstring(1, R), false},
        {"cut sequence", "\xE2\x82", std::wstring(2, R), false},
        {"overlong", "\xC0\xAF", std::wstring(2, R), false},
        {"overlong three bytes", "\xE0\x80\xAF", std::wstring(3, R), false},
        {"surrogate", "\xED\xA0\x80", std::wstring(3, R), false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", std::wstring(4, R), false},
        {"F5 lead", "\xF5\x80\x80\x80", std::wstring(4, R), false},
        {"bad byte then valid",
         "\xFF"
         "a\xC3\x9F",
         std::wstring(1, R) + L"a\x00DF", false},
    };
    for (const DecodeCase &test : vecCases) {
        EXPECT_EQ(test.wstrExpected, FXWideString::ToWstring(test.strBytes)) << test.szName;
        EXPECT_EQ(test.bValid, FXWideString::IsValidUtf8(test.strBytes)) << test.szName;
        const std::string strBack = FXWideString::ToString(FXWideString::ToWstring(test.strBytes));
        EXPECT_TRUE(idxtest::IsValidUtf8(strBack)) << test.szName;
        if (test.bValid) {
            EXPECT_EQ(test.strBytes, strBack) << test.szName;
        }
    }
}

TEST(WideStringsTest, EncodingReplacesWhatUtf8CannotHold) {
    std::wstring wstrText;
    wstrText.push_back(L'a');
    wstrText.push_back(static_cast<wchar_t>(0xD800));
    wstrText.push_back(static_cast<wchar_t>(0x110000));
    wstrText.push_back(static_cast<wchar_t>(-1));
    wstrText.push_back(static_cast<wchar_t>(0x10FFFF));
    EXPECT_EQ("a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xF4\x8F\xBF\xBF",
              FXWideString::ToString(wstrText));
}

} // namespace
