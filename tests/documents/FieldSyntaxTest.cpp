// Field syntax: the two field forms, CDATA splitting, the XML character filter, URL encoding,
// field rewriting, MD5 texts, extensions and the archive test.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "documents/DocumentKeys.h"
#include "documents/FieldSyntax.h"
#include "platform/WideStrings.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/documents/DocumentTestSupport.h"

namespace {

using idxtest::DocumentField;
using idxtest::FieldList;

const std::string kFilterLine = "removing invalid character";

struct CDataCase {
    std::string strValue;
    std::string strExpected;
};

TEST(FieldSyntaxTest, GenerateCDataDividesEveryClosingSequence) {
    const std::vector<CDataCase> vecCases = {
        {"a.txt", "<![CDATA[a.txt]]>"},
        {"a]]>b", "<![CDATA[a]]]]><![CDATA[>b]]>"},
        {"]]>", "<![CDATA[]]]]><![CDATA[>]]>"},
        {"x]]>", "<![CDATA[x]]]]><![CDATA[>]]>"},
        {"]]>]]>", "<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>"},
        {"a]]b>c]", "<![CDATA[a]]b>c]]]>"},
        // Filtering comes before the split: the removed byte must not leave a "]]>" behind.
        {"]]\x01>", "<![CDATA[]]]]><![CDATA[>]]>"},
        // So must a U+FFFE, and a byte dropped inside a UTF-8 sequence leaves the sequence whole.
        {"]]\xEF\xBF\xBE>", "<![CDATA[]]]]><![CDATA[>]]>"},
        {"a\xC3\x01\xA4", "<![CDATA[a\xC3\xA4]]>"},
        {"\x01\x7F", ""},
        {"", ""},
    };
    for (const CDataCase &test : vecCases) {
        EXPECT_EQ(test.strExpected, IdxDocuments::GenerateCData(test.strValue))
            << "value: " << test.strValue;
    }
}

TEST(FieldSyntaxTest, AppendFieldAddsExactlyWhatCreateFieldReturns) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    const std::vector<std::pair<std::string, std::string>> vecFields = {
        {"contentid", "k"},
        {"FileName", "a]]>b\x01\xFF"},
        {"we\"ird<", "caf\xC3\xA9"},
        {"FileModifiedByTime", ""},
        {"a=b&c", "x y"},
    };
    for (EFieldForm eForm : {EFieldForm::eXml, EFieldForm::eLiteral}) {
        // Into a text that already holds something, as the builders append into a body.
        std::string strAppended = "<add><doc>";
        std::string strExpected = strAppended;
        for (const auto &field : vecFields) {
            IdxDocuments::AppendField(strAppended, field.first, field.second, eForm);
            strExpected += IdxDocuments::CreateField(field.first, field.second, eForm);
        }
        EXPECT_EQ(strAppended, strExpected);
    }
}

TEST(FieldSyntaxTest, XmlFieldCarriesTheUpdateAttributeByName) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    EXPECT_EQ("<field name=\"FileName\" update=\"set\"><![CDATA[a.txt]]></field>",
              set.CreateField("FileName", "a.txt"));

    struct AttributeCase {
        std::string strName;
        bool bHasUpdate;
        std::string strUpdate;
    };
    const std::vector<AttributeCase> vecCases = {
        {"contentid", false, ""},
        {"ContentId", false, ""},
        {"CONTENTID", false, ""},
        {"filemodifiedbytime", true, "add"},
        {"FileModifiedByTime", true, "add"},
        {"FileAccessedByTime", true, "add"},
        {"FileAccessedByUserName", true, "add"},
        {"FILEMODIFIEDBYUSERNAME", true, "add"},
        {"FileName", true, "set"},
        {"contentid2", true, "set"},
        {"cistate", true, "set"},
    };
    for (const AttributeCase &test : vecCases) {
        FieldList fields;
        std::string strError;
        ASSERT_TRUE(
            idxtest::ParseDocumentFields(set.CreateField(test.strName, "v"), fields, strError))
            << strError;
        ASSERT_EQ(1u, fields.size());
        EXPECT_EQ(test.strName, fields[0].strName);
        EXPECT_EQ(test.bHasUpdate, fields[0].bHasUpdate) << test.strName;
        EXPECT_EQ(test.strUpdate, fields[0].strUpdate) << test.strName;
        EXPECT_EQ("v", fields[0].strValue);
    }
}

TEST(FieldSyntaxTest, XmlFieldIsTheOpeningTagTheCDataOfTheValueAndTheClosingTag) {
    // Plain names and values are written in one piece, all others through the filter: both must
    // give the same bytes, whatever the value holds.
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    const std::vector<std::pair<std::string, std::string>> vecNames = {
        {"FileName", " update=\"set\""},
        {"contentid", ""},
        {"FileModifiedByTime", " update=\"add\""}};
    const std::vector<std::string> vecValues = {
        "", "a", "a b\tc\r\n~", "x]y", "a>b", "]]>", "caf\xC3\xA9", "\x01", "bad\xFF", "a&<b\""};
    for (const auto &name : vecNames) {
        for (const std::string &strValue : vecValues) {
            const std::string strExpected = "<field name=\"" + name.first + "\"" + name.second +
                                            ">" + IdxDocuments::GenerateCData(strValue) +
                                            "</field>";
            std::string strAppended = "<doc>";
            IdxDocuments::AppendField(strAppended, name.first, strValue, EFieldForm::eXml);
            EXPECT_EQ("<doc>" + strExpected, strAppended) << name.first << " [" << strValue << "]";
        }
        // An empty view, as the builders pass for an empty field, may hold no data at all.
        std::string strAppended;
        IdxDocuments::AppendField(strAppended, name.first, std::string_view(), EFieldForm::eXml);
        EXPECT_EQ("<field name=\"" + name.first + "\"" + name.second + "></field>", strAppended);
    }
}

TEST(FieldSyntaxTest, LiteralFieldIsUrlEncodedAndUnfiltered) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(false);
    const std::vector<CDataCase> vecCases = {
        {"a.txt", "&literal.FileName=a.txt"},
        {"a b&c", "&literal.FileName=a%20b%26c"},
        {"~-_.", "&literal.FileName=~-_."},
        {"/dir/f", "&literal.FileName=%2fdir%2ff"},
        {"\xC3\x9F", "&literal.FileName=%c3%9f"},
        {std::string("\x00\x7f", 2), "&literal.FileName=%00%7f"},
        {"]]>", "&literal.FileName=%5d%5d%3e"},
        {"", "&literal.FileName="},
    };
    idxtest::LogCapture capture;
    for (const CDataCase &test : vecCases) {
        EXPECT_EQ(test.strExpected, set.CreateField("FileName", test.strValue));
    }
    // The literal form never goes through the XML filter.
    EXPECT_FALSE(capture.Contains(kFilterLine));
}

TEST(FieldSyntaxTest, UrlencodeKeepsOnlyUnreservedBytes) {
    // Every byte value, sixteen to a row: the row's first byte and the row's encoded text.
    const std::vector<std::pair<int, std::string>> vecRows = {
        {0x00, "%00%01%02%03%04%05%06%07%08%09%0a%0b%0c%0d%0e%0f"},
        {0x10, "%10%11%12%13%14%15%16%17%18%19%1a%1b%1c%1d%1e%1f"},
        {0x20, "%20%21%22%23%24%25%26%27%28%29%2a%2b%2c-.%2f"},
        {0x30, "0123456789%3a%3b%3c%3d%3e%3f"},
        {0x40, "%40ABCDEFGHIJKLMNO"},
        {0x50, "PQRSTUVWXYZ%5b%5c%5d%5e_"},
        {0x60, "%60abcdefghijklmno"},
        {0x70, "pqrstuvwxyz%7b%7c%7d~%7f"},
        {0x80, "%80%81%82%83%84%85%86%87%88%89%8a%8b%8c%8d%8e%8f"},
        {0x90, "%90%91%92%93%94%95%96%97%98%99%9a%9b%9c%9d%9e%9f"},
        {0xA0, "%a0%a1%a2%a3%a4%a5%a6%a7%a8%a9%aa%ab%ac%ad%ae%af"},
        {0xB0, "%b0%b1%b2%b3%b4%b5%b6%b7%b8%b9%ba%bb%bc%bd%be%bf"},
        {0xC0, "%c0%c1%c2%c3%c4%c5%c6%c7%c8%c9%ca%cb%cc%cd%ce%cf"},
        {0xD0, "%d0%d1%d2%d3%d4%d5%d6%d7%d8%d9%da%db%dc%dd%de%df"},
        {0xE0, "%e0%e1%e2%e3%e4%e5%e6%e7%e8%e9%ea%eb%ec%ed%ee%ef"},
        {0xF0, "%f0%f1%f2%f3%f4%f5%f6%f7%f8%f9%fa%fb%fc%fd%fe%ff"},
    };
    for (const auto &row : vecRows) {
        std::string strBytes;
        for (int i = row.first; i < row.first + 16; ++i) {
            strBytes.push_back(static_cast<char>(i));
        }
        EXPECT_EQ(row.second, IdxDocuments::Urlencode(strBytes)) << "row " << row.first;
    }
}

TEST(FieldSyntaxTest, LiteralParametersCarryOnlyUtf8) {
    // Bytes that are not UTF-8 become U+FFFD (bytes EF BF BD) before they are percent-encoded,
    // in the name and in the value, as the XML form filters them; valid text stays as it is.
    const std::string kReplacement = "%ef%bf%bd";
    struct LiteralCase {
        std::string strName;
        std::string strValue;
        std::string strExpected;
    };
    const std::vector<LiteralCase> vecCases = {
        {"FileName", "inv\xFF\xFE.txt",
         "&literal.FileName=inv" + kReplacement + kReplacement + ".txt"},
        {"FileName", "caf\xE9", "&literal.FileName=caf" + kReplacement},
        {"FileName", "\xC0\xAF", "&literal.FileName=" + kReplacement + kReplacement},
        {"FileName", "a\xE2\x82", "&literal.FileName=a" + kReplacement + kReplacement},
        {"FileName",
         "stra\xC3\x9F"
         "e",
         "&literal.FileName=stra%c3%9fe"},
        {"FileName", "\xEF\xBF\xBE", "&literal.FileName=%ef%bf%be"},
        {"Name\xFF", "v", "&literal.Name" + kReplacement + "=v"},
    };
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(false);
    for (const LiteralCase &test : vecCases) {
        EXPECT_EQ(test.strExpected, set.CreateField(test.strName, test.strValue)) << test.strValue;
    }

    // The rewrite finds a parameter by the name CreateField wrote and writes its new value the
    // same way.
    std::string strDocument = set.CreateField("contentid", "k") +
                              set.CreateField("Name\xFF", "old") + set.CreateField("FileName", "f");
    set.ChangeFieldValue(strDocument, "Name\xFF", "new\xFE");
    EXPECT_EQ("&literal.contentid=k&literal.Name" + kReplacement + "=new" + kReplacement +
                  "&literal.FileName=f",
              strDocument);
}

struct FilterCase {
    std::string strName;
    std::string strValue;
    std::string strExpected;
};

TEST(FieldSyntaxTest, StripIllegalXmlCharactersTable) {
    const std::vector<FilterCase> vecCases = {
        {"tab, line feed, carriage return", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"DEL and ESC",
         "a\x7f"
         "b\x1b"
         "c",
         "abc"},
        {"NUL and other C0",
         std::string("a\x00\x01\x08\x0b\x0c\x0e\x1f"
                     "b",
                     10),
         "ab"},
        {"two-byte character",
         "stra\xC3\x9F"
         "e",
         "stra\xC3\x9F"
         "e"},
        {"four-byte character", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"U+FFFE and U+FFFF",
         "a\xEF\xBF\xBE"
         "b\xEF\xBF\xBF",
         "ab"},
        {"only removed bytes", "\x01\x02\x7f", ""},
        {"only U+FFFE", "\xEF\xBF\xBE", ""},
        {"byte that is not UTF-8", "caf\xE9", "caf\xEF\xBF\xBD"},
        {"stray continuation byte",
         "a\x80"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"cut sequence", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"encoded surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"C1 control kept", "\xC2\x85", "\xC2\x85"},
    };
    for (const FilterCase &test : vecCases) {
        idxtest::LogCapture capture;
        const std::string strResult = IdxDocuments::StripIllegalXmlCharacters(test.strValue);
        EXPECT_EQ(test.strExpected, strResult) << test.strName;
        EXPECT_EQ("", idxtest::XmlTextProblem(strResult)) << test.strName;
        const bool bChanged = test.strExpected != test.strValue;
        EXPECT_EQ(bChanged ? 1u : 0u, capture.CountAtLevel(kFilterLine, 1)) << test.strName;
        EXPECT_EQ(0u, capture.CountAtLevel("", -1)) << test.strName;
    }
}

TEST(FieldSyntaxTest, FilterLogLineNamesOldAndNewValue) {
    idxtest::LogCapture capture;
    IdxDocuments::StripIllegalXmlCharacters("ab\x7f"
                                            "c");
    EXPECT_TRUE(capture.Contains("removing invalid character, old value [ab\x7f"
                                 "c] to new "
                                 "value [abc]"));
}

// Item names that try to break out of their field or document, or that XML cannot carry.
const std::vector<std::string> &HostileValues() {
    static const std::vector<std::string> vecValues = {
        "]]>",
        "name]]>tail",
        "]]]]>>",
        "]]\x01>",
        "]\x02]>",
        "<doc>",
        "</doc><doc><field name=\"contentid\"><![CDATA[x]]></field></doc>",
        "]]></field><field name=\"cistate\" update=\"set\"><![CDATA[1",
        "</field></doc></add>",
        std::string("a\x00"
                    "b",
                    3),
        "\x01\x02\x03\x1b\x7f",
        "\xFF\xFE",
        "caf\xE9]]>",
        "\xEF\xBF\xBE",
        "x\xEF\xBF\xBF]]>y",
        "&amp;&lt;<![CDATA[",
    };
    return vecValues;
}

TEST(FieldSyntaxTest, HostileValuesStayInsideTheirField) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    for (const std::string &strValue : HostileValues()) {
        const std::string strDocument = set.CreateField("contentid", "key") +
                                        set.CreateField("FileName", strValue) +
                                        set.CreateField("cistate", "16");
        FieldList fields;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError))
            << strError << " in " << strDocument;
        ASSERT_EQ((std::vector<std::string>{"contentid", "FileName", "cistate"}),
                  idxtest::FieldNames(fields));
        EXPECT_EQ(IdxDocuments::StripIllegalXmlCharacters(strValue), fields[1].strValue);
        EXPECT_EQ("16", fields[2].strValue);
    }
}

TEST(FieldSyntaxTest, ChangeFieldValueXmlFormRewritesTheFirstField) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    const idxtest::DocumentWorkerSet &builder = set;
    const std::string strDocument =
        builder.CreateField("contentid", "k") + builder.CreateField("Url", "/old]]>path") +
        builder.CreateField("FolderName", "/f") + builder.CreateField("Url", "/second") +
        builder.CreateField("FileModifiedByTime", "t1") + builder.CreateField("Empty", "");

    struct ChangeCase {
        std::string strName;
        std::string strValue;
        std::vector<std::string> vecExpected; // values of the six fields afterwards
    };
    const std::vector<ChangeCase> vecCases = {
        {"Url", "/new", {"k", "/new", "/f", "/second", "t1", ""}},
        {"FileModifiedByTime", "t2", {"k", "/old]]>path", "/f", "/second", "t2", ""}},
        {"Empty", "filled", {"k", "/old]]>path", "/f", "/second", "t1", "filled"}},
        {"FolderName", "", {"k", "/old]]>path", "", "/second", "t1", ""}},
        // The key has no update attribute and is never found; names are matched exactly.
        {"contentid", "other", {"k", "/old]]>path", "/f", "/second", "t1", ""}},
        {"url", "/x", {"k", "/old]]>path", "/f", "/second", "t1", ""}},
        {"Missing", "/x", {"k", "/old]]>path", "/f", "/second", "t1", ""}},
    };
    for (const ChangeCase &test : vecCases) {
        std::string strChanged = strDocument;
        builder.ChangeFieldValue(strChanged, test.strName, test.strValue);
        FieldList fields;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseDocumentFields(strChanged, fields, strError)) << strError;
        std::vector<std::string> vecValues;
        for (const DocumentField &field : fields) {
            vecValues.push_back(field.strValue);
        }
        EXPECT_EQ(test.vecExpected, vecValues) << test.strName;
        EXPECT_EQ((std::vector<std::string>{"contentid", "Url", "FolderName", "Url",
                                            "FileModifiedByTime", "Empty"}),
                  idxtest::FieldNames(fields));
    }
}

TEST(FieldSyntaxTest, ChangeFieldValueWritesHostileValuesAsCreateFieldDoes) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    const idxtest::DocumentWorkerSet &builder = set;
    for (const std::string &strValue : HostileValues()) {
        std::string strDocument = builder.CreateField("contentid", "k") +
                                  builder.CreateField("Url", "/archive.zip") +
                                  builder.CreateField("FileName", "member");
        builder.ChangeFieldValue(strDocument, "Url", strValue);
        FieldList fields;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError)) << strError;
        ASSERT_EQ((std::vector<std::string>{"contentid", "Url", "FileName"}),
                  idxtest::FieldNames(fields));
        EXPECT_EQ(IdxDocuments::StripIllegalXmlCharacters(strValue), fields[1].strValue);
        EXPECT_EQ("member", fields[2].strValue);
    }
}

TEST(FieldSyntaxTest, ChangeFieldValueTakesTheFieldWrittenForThatName) {
    // The control character is filtered out of the second name, so both fields carry the name
    // attribute "FileModifiedByTime"; only the first is an accumulating field and gets "add".
    const std::string kAdding = "FileModifiedByTime";
    const std::string kSetting = "\x04"
                                 "FileModifiedByTime";
    struct ChangeCase {
        std::string strFirst;  // name of the first field, value "first"
        std::string strSecond; // name of the second field, value "second"
        std::string strChanged;
        std::vector<std::string> vecExpected; // the two values afterwards
    };
    const std::vector<ChangeCase> vecCases = {
        {kAdding, kSetting, kAdding, {"changed", "second"}},
        {kAdding, kSetting, kSetting, {"first", "changed"}},
        {kSetting, kAdding, kAdding, {"first", "changed"}},
        {kSetting, kAdding, kSetting, {"changed", "second"}},
    };
    idxtest::DocumentWorkerSet xml = idxtest::MakeDocumentWorker(true);
    idxtest::DocumentWorkerSet literal = idxtest::MakeDocumentWorker(false);
    for (const ChangeCase &test : vecCases) {
        SCOPED_TRACE(test.strFirst == kAdding ? "adding field first" : "setting field first");
        SCOPED_TRACE(test.strChanged == kAdding ? "changing the adding field"
                                                : "changing the setting field");
        std::string strDocument = xml.CreateField("contentid", "k") +
                                  xml.CreateField(test.strFirst, "first") +
                                  xml.CreateField(test.strSecond, "second");
        xml.ChangeFieldValue(strDocument, test.strChanged, "changed");
        FieldList fields;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError)) << strError;
        ASSERT_EQ(3u, fields.size());
        EXPECT_EQ(test.vecExpected,
                  (std::vector<std::string>{fields[1].strValue, fields[2].strValue}));
        EXPECT_EQ(test.strFirst == kAdding ? "add" : "set", fields[1].strUpdate);

        std::string strParameters = literal.CreateField(test.strFirst, "first") +
                                    literal.CreateField(test.strSecond, "second");
        literal.ChangeFieldValue(strParameters, test.strChanged, "changed");
        EXPECT_EQ(literal.CreateField(test.strFirst, test.vecExpected[0]) +
                      literal.CreateField(test.strSecond, test.vecExpected[1]),
                  strParameters);
    }
}

TEST(FieldSyntaxTest, ChangeFieldValueIgnoresLookAlikeTextInsideValues) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    const idxtest::DocumentWorkerSet &builder = set;
    // A name holding the exact opening tag of a later field must not be taken for that field.
    std::string strDocument =
        builder.CreateField("FileName", "<field name=\"Url\" update=\"set\"><![CDATA[trap") +
        builder.CreateField("Url", "/real");
    builder.ChangeFieldValue(strDocument, "Url", "/changed");
    FieldList fields;
    std::string strError;
    ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError)) << strError;
    ASSERT_EQ(2u, fields.size());
    EXPECT_EQ("<field name=\"Url\" update=\"set\"><![CDATA[trap", fields[0].strValue);
    EXPECT_EQ("/changed", fields[1].strValue);
}

TEST(FieldSyntaxTest, ChangeFieldValueLiteralForm) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(false);
    const idxtest::DocumentWorkerSet &builder = set;
    const std::string strDocument = "http://h/x?wt=xml" + builder.CreateField("contentid", "k") +
                                    builder.CreateField("Url", "/a b") +
                                    builder.CreateField("FileName", "f") +
                                    builder.CreateField("Url", "/second");
    const std::vector<CDataCase> vecCases = {
        {"Url", "http://h/x?wt=xml&literal.contentid=k&literal.Url=%2fnew%20v"
                "&literal.FileName=f&literal.Url=%2fsecond"},
        {"FileName", "http://h/x?wt=xml&literal.contentid=k&literal.Url=%2fa%20b"
                     "&literal.FileName=%2fnew%20v&literal.Url=%2fsecond"},
        {"contentid", "http://h/x?wt=xml&literal.contentid=%2fnew%20v&literal.Url=%2fa%20b"
                      "&literal.FileName=f&literal.Url=%2fsecond"},
        {"Missing", strDocument},
    };
    for (const CDataCase &test : vecCases) {
        std::string strChanged = strDocument;
        builder.ChangeFieldValue(strChanged, test.strValue, "/new v");
        EXPECT_EQ(test.strExpected, strChanged) << test.strValue;
    }
    // The last parameter's value runs to the end of the text.
    std::string strLast = builder.CreateField("contentid", "k") + builder.CreateField("Size", "1");
    builder.ChangeFieldValue(strLast, "Size", "12345");
    EXPECT_EQ("&literal.contentid=k&literal.Size=12345", strLast);
}

TEST(FieldSyntaxTest, ConfiguredFieldNamesCannotBreakEitherForm) {
    // Schema field names come from the job's configuration, not from this code.
    struct NameCase {
        std::string strName;
        std::string strParsedName;  // the name the engine reads from the XML form
        std::string strLiteralName; // the name as it stands in the literal form
    };
    const std::vector<NameCase> vecCases = {
        {"Plain_Name-1.x", "Plain_Name-1.x", "Plain_Name-1.x"},
        {"a\"b", "a\"b", "a%22b"},
        {"x\"><doc><field name=\"y", "x\"><doc><field name=\"y",
         "x%22%3e%3cdoc%3e%3cfield%20name%3d%22y"},
        {"amp&lt;", "amp&lt;", "amp%26lt%3b"},
        {"ctl\x01name", "ctlname", "ctl%01name"},
        {"k=v&literal.contentid", "k=v&literal.contentid", "k%3dv%26literal.contentid"},
    };
    idxtest::DocumentWorkerSet xml = idxtest::MakeDocumentWorker(true);
    idxtest::DocumentWorkerSet literal = idxtest::MakeDocumentWorker(false);
    for (const NameCase &test : vecCases) {
        SCOPED_TRACE(test.strName);
        std::string strDocument =
            xml.CreateField("contentid", "k") + xml.CreateField(test.strName, "v");
        FieldList fields;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError))
            << strError << " in " << strDocument;
        ASSERT_EQ((std::vector<std::string>{"contentid", test.strParsedName}),
                  idxtest::FieldNames(fields));
        EXPECT_EQ("set", fields[1].strUpdate);
        // The rewrite finds the field by the name it was written with.
        xml.ChangeFieldValue(strDocument, test.strName, "changed");
        ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError)) << strError;
        EXPECT_EQ("changed", fields[1].strValue);

        std::string strParameters =
            literal.CreateField("contentid", "k") + literal.CreateField(test.strName, "v");
        EXPECT_EQ("&literal.contentid=k&literal." + test.strLiteralName + "=v", strParameters);
        literal.ChangeFieldValue(strParameters, test.strName, "w x");
        EXPECT_EQ("&literal.contentid=k&literal." + test.strLiteralName + "=w%20x", strParameters);
    }
}

TEST(FieldSyntaxTest, MakeHashIsUpperCaseMd5OfTheBytes) {
    // Digests published with the algorithm (RFC 1321).
    const std::vector<CDataCase> vecCases = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    };
    for (const CDataCase &test : vecCases) {
        EXPECT_EQ(test.strExpected, IdxDocuments::MakeHash(test.strValue));
    }
    EXPECT_NE(IdxDocuments::MakeHash("Report.txt-100"), IdxDocuments::MakeHash("report.txt-100"));
    // The bytes are hashed as they stand: the UTF-8 and the Latin-1 form of one character
    // differ.
    const std::string strHash = IdxDocuments::MakeHash("\xC3\x9F");
    EXPECT_EQ(32u, strHash.size());
    EXPECT_EQ(std::string::npos, strHash.find_first_not_of("0123456789ABCDEF"));
    EXPECT_NE(IdxDocuments::MakeHash("\xDF"), strHash);
}

TEST(FieldSyntaxTest, GetFileExtensionTakesTheLastDotOfTheWholeText) {
    const std::vector<CDataCase> vecCases = {
        {"archive.tar.gz", "GZ"}, {"README", ""}, {"notes.", ""},        {"/a.d/file", "D/FILE"},
        {"report.PDF", "PDF"},    {"x.7z", "7Z"}, {".bashrc", "BASHRC"}, {"", ""},
    };
    for (const CDataCase &test : vecCases) {
        EXPECT_EQ(test.strExpected, IdxDocuments::GetFileExtension(test.strValue)) << test.strValue;
    }
}

TEST(FieldSyntaxTest, IsCompressedItemComparesExactly) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(true);
    EXPECT_EQ((std::set<std::string>{"7Z", "ZIP", "TGZ", "GZ", "BZ2", "TBZ2", "XZ", "TXZ"}),
              IdxDocuments::CompressedExtensions());
    const std::vector<std::pair<std::string, bool>> vecCases = {
        {"GZ", true},   {"gz", false}, {"ZIP", true},  {"TXZ", true},
        {"TAR", false}, {"", false},   {"Zip", false},
    };
    for (const auto &test : vecCases) {
        EXPECT_EQ(test.second, IdxDocuments::IsCompressedItem(test.first)) << test.first;
    }
}

} // namespace
