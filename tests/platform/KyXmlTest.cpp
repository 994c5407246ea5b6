#include "platform/KyXml.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>

#include "platform/testing/LogCapture.h"

namespace {

bool Mentions(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// The first node of an XPath selection, read as the engine-answer parser reads it.
CKyError SelectText(const CKyXDocument &document, const std::string &strXPath,
                    std::string &strText) {
    CKyXPathNodeSet nodeSet;
    CKyError error = document.SelectNodes(strXPath, nodeSet);
    if (error.IsError()) {
        return error;
    }
    boost::shared_ptr<CKyXNode> ptrNode;
    error = nodeSet.Node(0).GetNodeAs<CKyXNode>(ptrNode);
    if (error.IsError()) {
        return error;
    }
    return ptrNode->GetText(strText);
}

const char *kEngineAnswer = "<response><lst name=\"responseHeader\"><int name=\"status\">0</int>"
                            "<int name=\"QTime\">3</int></lst></response>";

TEST(KyXmlTest, EngineAnswerStatusByXPath) {
    CKyXDocument document;
    ASSERT_FALSE(document.LoadFromString(kEngineAnswer).IsError());

    boost::shared_ptr<CKyXNode> ptrResponse;
    ASSERT_FALSE(document.GetNode<CKyXNode>(ptrResponse, "response").IsError());
    ASSERT_TRUE(ptrResponse);
    EXPECT_TRUE(ptrResponse->IsValid());
    EXPECT_EQ(ptrResponse->GetName(), "response");

    std::string strStatus = "unset";
    ASSERT_FALSE(SelectText(document, ".//int[@name=\"status\"]", strStatus).IsError());
    EXPECT_EQ(strStatus, "0");
    std::string strTime;
    ASSERT_FALSE(SelectText(document, "//lst[@name='responseHeader']/int[2]", strTime).IsError());
    EXPECT_EQ(strTime, "3");
}

TEST(KyXmlTest, LookupsThatFindNothingGiveEmptyNodesNotErrors) {
    CKyXDocument document;
    ASSERT_FALSE(document.LoadFromString(kEngineAnswer).IsError());

    boost::shared_ptr<CKyXNode> ptrHtml;
    ASSERT_FALSE(document.GetNode<CKyXNode>(ptrHtml, "html").IsError());
    ASSERT_TRUE(ptrHtml);
    EXPECT_TRUE(ptrHtml->IsEmpty());
    EXPECT_EQ(ptrHtml->GetName(), "");

    // The first node of an empty selection reads as empty text without error.
    std::string strText = "unset";
    EXPECT_FALSE(SelectText(document, ".//pre", strText).IsError());
    EXPECT_EQ(strText, "");
    CKyXPathNodeSet nodeSet;
    EXPECT_FALSE(document.SelectNodes(".//pre", nodeSet).IsError());
    EXPECT_EQ(nodeSet.size(), 0u);
}

TEST(KyXmlTest, TextOfHtmlErrorPageAndOfNestedAndAttributeNodes) {
    CKyXDocument document;
    ASSERT_FALSE(document
                     .LoadFromString("<html><head><title>Error 500</title></head><body>"
                                     "<h2>HTTP ERROR 500</h2><pre>  Server error &amp; more. "
                                     "</pre><p>a<b>b</b><![CDATA[c<d]]></p></body></html>")
                     .IsError());
    std::string strText;
    ASSERT_FALSE(SelectText(document, ".//pre", strText).IsError());
    EXPECT_EQ(strText, "  Server error & more. ");
    ASSERT_FALSE(SelectText(document, "//p", strText).IsError());
    EXPECT_EQ(strText, "abc<d");
    ASSERT_FALSE(SelectText(document, "//h2/text()", strText).IsError());
    EXPECT_EQ(strText, "HTTP ERROR 500");

    CKyXDocument withAttributes;
    ASSERT_FALSE(
        withAttributes.LoadFromString("<a><b name=\"x\" id=\"7\"/><b name=\"y\"/></a>").IsError());
    CKyXPathNodeSet nodeSet;
    ASSERT_FALSE(withAttributes.SelectNodes("//b/@name", nodeSet).IsError());
    ASSERT_EQ(nodeSet.size(), 2u);
    boost::shared_ptr<CKyXNode> ptrNode;
    ASSERT_FALSE(nodeSet.Node(1).GetNodeAs<CKyXNode>(ptrNode).IsError());
    EXPECT_EQ(ptrNode->GetName(), "name");
    ASSERT_FALSE(ptrNode->GetText(strText).IsError());
    EXPECT_EQ(strText, "y");
}

TEST(KyXmlTest, ChildrenAndAttributes) {
    CKyXDocument document;
    ASSERT_FALSE(document
                     .LoadFromString("<root><item id=\"1\">one</item><!-- note --><other/>"
                                     "<item id=\"2\">two</item></root>")
                     .IsError());
    CKyXNode root = document.GetRoot();
    ASSERT_TRUE(root.IsValid());
    std::vector<CKyXNode> vecChildren = root.GetChildren();
    ASSERT_EQ(vecChildren.size(), 3u);
    EXPECT_EQ(vecChildren[1].GetName(), "other");
    std::string strId;
    EXPECT_TRUE(vecChildren[2].GetAttribute("id", strId));
    EXPECT_EQ(strId, "2");
    EXPECT_FALSE(vecChildren[1].GetAttribute("id", strId));

    CKyXNode first = root.GetChild("item");
    std::string strText;
    ASSERT_FALSE(first.GetText(strText).IsError());
    EXPECT_EQ(strText, "one");
    EXPECT_TRUE(root.GetChild("absent").IsEmpty());
    EXPECT_TRUE(root.GetChild("absent").GetChild("deeper").IsEmpty());
}

TEST(KyXmlTest, NodesOutliveTheirDocumentObject) {
    boost::shared_ptr<CKyXNode> ptrNode;
    {
        auto ptrDocument = boost::make_shared<CKyXDocument>();
        ASSERT_FALSE(ptrDocument->LoadFromString("<a><b>kept</b></a>").IsError());
        ASSERT_FALSE(ptrDocument->GetNode<CKyXNode>(ptrNode, "/a/b").IsError());
        // Loading other text leaves nodes of the earlier text intact.
        ASSERT_FALSE(ptrDocument->LoadFromString("<c/>").IsError());
    }
    std::string strText;
    ASSERT_FALSE(ptrNode->GetText(strText).IsError());
    EXPECT_EQ(strText, "kept");
}

TEST(KyXmlTest, MalformedTextIsAnErrorNamingReasonAndOffset) {
    struct Case {
        const char *szText;
        const char *szOffset;
    } cases[] = {
        {"<response><lst></response>", "offset=[17]"},
        {"", "offset=[0]"},
        {"not xml at all", "offset=[14]"},
        {"<a attr=\"unterminated></a>", "offset="},
        {"<a><b></a>", "offset=[8]"},
        {"<a>", "offset=[2]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szText);
        CKyXDocument document;
        CKyError error = document.LoadFromString(c.szText);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_TRUE(Mentions(error, "Failed to parse XML, error=[")) << error.AsString();
        EXPECT_TRUE(Mentions(error, c.szOffset)) << error.AsString();
        EXPECT_TRUE(document.GetRoot().IsEmpty());
    }
}

TEST(KyXmlTest, OversizedTextAndBadXPathAreErrors) {
    CKyXDocument document;
    std::string strHuge(CKyXDocument::kMaxTextSize + 1, ' ');
    CKyError error = document.LoadFromString(strHuge);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_TRUE(Mentions(error, "XML text too large"));

    ASSERT_FALSE(document.LoadFromString(kEngineAnswer).IsError());
    CKyXPathNodeSet nodeSet;
    error = document.SelectNodes("//int[@name=", nodeSet);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_TRUE(Mentions(error, "XPath=[//int[@name=]"));
    EXPECT_EQ(nodeSet.size(), 0u);
    idxtest::LogCapture capture(0);
    boost::shared_ptr<CKyXNode> ptrNode;
    EXPECT_FALSE(document.GetNode<CKyXNode>(ptrNode, "((").IsError());
    EXPECT_TRUE(ptrNode->IsEmpty());
    EXPECT_EQ(capture.CountAtLevel("XPath lookup failed, XPath=[((]", -1), 1u);
}

TEST(KyXmlTest, DeeplyNestedInputDoesNotExhaustTheStack) {
    const int nDepth = 200000;
    std::string strText;
    for (int i = 0; i < nDepth; ++i) {
        strText += "<a>";
    }
    strText += "deep";
    for (int i = 0; i < nDepth; ++i) {
        strText += "</a>";
    }
    CKyXDocument document;
    ASSERT_FALSE(document.LoadFromString(strText).IsError());
    std::string strValue;
    ASSERT_FALSE(document.GetRoot().GetText(strValue).IsError());
    EXPECT_EQ(strValue, "deep");
}

TEST(KyXmlTest, BuiltDocumentWritesTextThatParsesBack) {
    CKyXDocument document;
    CKyXNode root = document.CreateRoot("Message");
    ASSERT_TRUE(root.IsValid());
    root.SetAttribute("type", "a \"quoted\" <value>");
    CKyXNode field = root.AppendChild("Field");
    field.SetText("x < y & z");
    field.SetAttribute("id", "1");
    EXPECT_TRUE(root.AppendChild("bad name").IsEmpty());
    EXPECT_TRUE(CKyXNode().AppendChild("x").IsEmpty());

    std::string strXml;
    ASSERT_FALSE(document.SaveToString(strXml).IsError());
    EXPECT_EQ(strXml.find("<?xml"), std::string::npos);
    EXPECT_NE(strXml.find("x &lt; y &amp; z"), std::string::npos) << strXml;

    CKyXDocument parsed;
    ASSERT_FALSE(parsed.LoadFromString(strXml).IsError());
    std::string strText, strType;
    ASSERT_FALSE(SelectText(parsed, "/Message/Field[@id='1']", strText).IsError());
    EXPECT_EQ(strText, "x < y & z");
    EXPECT_TRUE(parsed.GetRoot().GetAttribute("type", strType));
    EXPECT_EQ(strType, "a \"quoted\" <value>");
}

} // namespace
