// The shared encodings: hexadecimal output in both cases, percent encoding with each set of kept
// marks and its inverse, and both kinds of XML escaping.
#include "foundation/TextEncoding.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct EncodeCase {
    std::string strInput;
    std::string strExpected;
};

TEST(TextEncodingTest, HexWritesTwoDigitsPerByteHighNibbleFirst) {
    const std::string strBytes("\x00\x01\x0f\x10\x7f\x80\xab\xcd\xef\xff", 10);
    EXPECT_EQ("00010f107f80abcdefff",
              CTextEncoding::Hex(strBytes.data(), strBytes.size(), CTextEncoding::eLowerHex));
    EXPECT_EQ("00010F107F80ABCDEFFF",
              CTextEncoding::Hex(strBytes.data(), strBytes.size(), CTextEncoding::eUpperHex));
    EXPECT_EQ("", CTextEncoding::Hex("", 0, CTextEncoding::eUpperHex));

    std::string strOut = "prefix:";
    CTextEncoding::AppendHex(strOut, "\x12\x9a", 2, CTextEncoding::eLowerHex);
    EXPECT_EQ("prefix:129a", strOut);
}

TEST(TextEncodingTest, PercentEncodeKeepsLettersDigitsAndTheGivenMarks) {
    const std::vector<EncodeCase> vecUnreservedLower = {
        {"", ""},
        {"AZaz09", "AZaz09"},
        {"-_.~", "-_.~"},
        {"a b", "a%20b"},
        {"+&=%?#/", "%2b%26%3d%25%3f%23%2f"},
        {std::string("\x00\x1f\x7f", 3), "%00%1f%7f"},
        {"\xC3\x9F\xFF", "%c3%9f%ff"},
    };
    for (const EncodeCase &test : vecUnreservedLower) {
        EXPECT_EQ(test.strExpected,
                  CTextEncoding::PercentEncode(test.strInput, CTextEncoding::kUnreservedMarks,
                                               CTextEncoding::eLowerHex))
            << test.strInput;
    }
    const std::vector<EncodeCase> vecUnreservedUpper = {
        {"http://h:1/solr?x=1", "http%3A%2F%2Fh%3A1%2Fsolr%3Fx%3D1"},
        {"~\xFE", "~%FE"},
    };
    for (const EncodeCase &test : vecUnreservedUpper) {
        EXPECT_EQ(test.strExpected,
                  CTextEncoding::PercentEncode(test.strInput, CTextEncoding::kUnreservedMarks,
                                               CTextEncoding::eUpperHex))
            << test.strInput;
    }
    const std::vector<EncodeCase> vecWithoutTilde = {
        {"host-1.dom_a", "host-1.dom_a"},
        {"~user*x", "%7Euser%2Ax"},
    };
    for (const EncodeCase &test : vecWithoutTilde) {
        EXPECT_EQ(test.strExpected, CTextEncoding::PercentEncode(
                                        test.strInput, CTextEncoding::kUnreservedMarksWithoutTilde,
                                        CTextEncoding::eUpperHex))
            << test.strInput;
    }
}

TEST(TextEncodingTest, PercentDecodeTakesEitherCaseAndRefusesBrokenEscapes) {
    const std::vector<EncodeCase> vecValid = {
        {"", ""},
        {"plain+text", "plain+text"},
        {"%41%62%2f%2F", "Ab//"},
        {"%00%ff%FF", std::string("\x00\xff\xff", 3)},
        {"a%20b%25", "a b%"},
    };
    for (const EncodeCase &test : vecValid) {
        std::string strText = "left over";
        EXPECT_TRUE(CTextEncoding::PercentDecode(test.strInput, strText)) << test.strInput;
        EXPECT_EQ(test.strExpected, strText) << test.strInput;
    }
    for (const char *szBroken : {"%", "a%4", "%4g", "%g4", "ok%2", "%%41"}) {
        std::string strText = "left over";
        EXPECT_FALSE(CTextEncoding::PercentDecode(szBroken, strText)) << szBroken;
        EXPECT_EQ("", strText) << szBroken;
    }
}

TEST(TextEncodingTest, XmlEscapeReplacesMarkupCharacters) {
    const std::string strInput = "a&b<c>d\"e'f\x01\xC3\x9F";
    EXPECT_EQ("a&amp;b&lt;c&gt;d&quot;e'f\x01\xC3\x9F",
              CTextEncoding::XmlEscape(strInput, CTextEncoding::eXmlMarkupAndQuote));
    EXPECT_EQ("a&amp;b&lt;c&gt;d&quot;e&apos;f\x01\xC3\x9F",
              CTextEncoding::XmlEscape(strInput, CTextEncoding::eXmlMarkupAndQuotes));
    EXPECT_EQ("&amp;amp;", CTextEncoding::XmlEscape("&amp;", CTextEncoding::eXmlMarkupAndQuote));
    EXPECT_EQ("", CTextEncoding::XmlEscape("", CTextEncoding::eXmlMarkupAndQuotes));
}

} // namespace
