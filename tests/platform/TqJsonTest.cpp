#include "platform/TqJson.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Mentions(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// The shape of an engine select answer that the restart position is read from.
const char *kSelectAnswer = R"({
  "responseHeader": {"status": 0, "QTime": 1},
  "response": {"numFound": 2, "start": 0, "docs": [
    {"CollectId": 1, "CollectOffset": 18446744073709551615, "JobId": "12"},
    {"CollectId": 3, "CollectOffset": 42}
  ]}
})";

TEST(TqJsonTest, ReadsObjectsArraysAndNumbers) {
    TqJson root;
    ASSERT_FALSE(TqJson::Unserialize(kSelectAnswer, root).IsError());
    EXPECT_TRUE(root.IsObject());

    TqJson response;
    ASSERT_FALSE(root.FindObjectValue("response", response).IsError());
    std::vector<TqJson> vecDocs;
    ASSERT_FALSE(response.FindArrayValue("docs", vecDocs).IsError());
    ASSERT_EQ(vecDocs.size(), 2u);

    int64_t llId = 0;
    uint64_t ullOffset = 0;
    ASSERT_FALSE(vecDocs[0].GetIntValue("CollectId", llId).IsError());
    ASSERT_FALSE(vecDocs[0].GetUInt64Value("CollectOffset", ullOffset).IsError());
    EXPECT_EQ(llId, 1);
    EXPECT_EQ(ullOffset, 18446744073709551615ull);
    ASSERT_FALSE(vecDocs[1].GetIntValue("CollectId", llId).IsError());
    ASSERT_FALSE(vecDocs[1].GetUInt64Value("CollectOffset", ullOffset).IsError());
    EXPECT_EQ(llId, 3);
    EXPECT_EQ(ullOffset, 42u);

    std::string strJobId;
    ASSERT_FALSE(vecDocs[0].GetStringValue("JobId", strJobId).IsError());
    EXPECT_EQ(strJobId, "12");

    int64_t llNegative = 0;
    TqJson negative;
    ASSERT_FALSE(TqJson::Unserialize(R"({"n": -9223372036854775808})", negative).IsError());
    ASSERT_FALSE(negative.GetIntValue("n", llNegative).IsError());
    EXPECT_EQ(llNegative, INT64_MIN);
}

TEST(TqJsonTest, ValuesOutliveTheirParent) {
    std::vector<TqJson> vecDocs;
    {
        TqJson root;
        TqJson response;
        ASSERT_FALSE(TqJson::Unserialize(kSelectAnswer, root).IsError());
        ASSERT_FALSE(root.FindObjectValue("response", response).IsError());
        ASSERT_FALSE(response.FindArrayValue("docs", vecDocs).IsError());
    }
    int64_t llId = 0;
    ASSERT_FALSE(vecDocs[1].GetIntValue("CollectId", llId).IsError());
    EXPECT_EQ(llId, 3);
}

TEST(TqJsonTest, MissingAndWrongTypedMembersAreNamed) {
    TqJson root;
    ASSERT_FALSE(TqJson::Unserialize(
                     R"({"text": "abc", "number": 1.5, "big": 18446744073709551615,
                         "negative": -4, "list": [1], "object": {}})",
                     root)
                     .IsError());
    TqJson object;
    std::vector<TqJson> vecArray;
    int64_t llValue = 0;
    uint64_t ullValue = 0;
    std::string strValue;
    struct Case {
        CKyError error;
        const char *szExpected;
    } cases[] = {
        {root.FindObjectValue("absent", object), "JSON member [absent] not found"},
        {root.FindObjectValue("list", object), "JSON member [list] is array, not an object"},
        {root.FindArrayValue("object", vecArray), "JSON member [object] is object, not an array"},
        {root.GetIntValue("text", llValue), "JSON member [text] is string, not a whole number"},
        {root.GetIntValue("number", llValue), "JSON member [number] is number, not a whole"},
        {root.GetIntValue("big", llValue), "JSON member [big] is out of the signed 64-bit range"},
        {root.GetUInt64Value("negative", ullValue), "JSON member [negative] is negative"},
        {root.GetStringValue("number", strValue), "JSON member [number] is number, not a string"},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(FXErrorUtil::IsWin32(c.error, 774)) << c.szExpected;
        EXPECT_TRUE(Mentions(c.error, c.szExpected)) << c.error.AsString();
    }
    EXPECT_EQ(llValue, 0);
    EXPECT_EQ(ullValue, 0u);

    TqJson array;
    ASSERT_FALSE(TqJson::Unserialize("[1, 2]", array).IsError());
    EXPECT_TRUE(array.IsArray());
    EXPECT_EQ(array.Size(), 2u);
    EXPECT_TRUE(Mentions(array.GetIntValue("CollectId", llValue), "not an object"));
    EXPECT_TRUE(TqJson().FindObjectValue("response", object).IsError());
}

TEST(TqJsonTest, ParseErrorsAreReportedNotThrown) {
    const char *szBad[] = {
        "",
        "{",
        "{\"a\": }",
        "<html>not json</html>",
        "{\"a\": 1} trailing",
        "[1, 2,]",
        "\"\xff\xfe\"",
    };
    for (const char *szText : szBad) {
        SCOPED_TRACE(szText);
        TqJson value;
        CKyError error = TqJson::Unserialize(szText, value);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_TRUE(Mentions(error, "Failed to parse JSON, error=[")) << error.AsString();
        EXPECT_TRUE(value.IsNull());
    }
}

TEST(TqJsonTest, HostileSizesAreRefused) {
    std::string strDeep(100000, '[');
    TqJson value;
    CKyError error = TqJson::Unserialize(strDeep + std::string(100000, ']'), value);
    EXPECT_TRUE(Mentions(error, "nested deeper than")) << error.AsString();

    std::string strHuge(TqJson::kMaxTextSize + 1, ' ');
    error = TqJson::Unserialize(strHuge, value);
    EXPECT_TRUE(Mentions(error, "JSON text too large"));

    // Nesting within the limit is fine.
    std::string strNested = std::string(200, '[') + std::string(200, ']');
    EXPECT_FALSE(TqJson::Unserialize(strNested, value).IsError());
    EXPECT_EQ(value.Serialize(), strNested);
}

} // namespace
