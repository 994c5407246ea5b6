#include "tests/support/engine/EngineRequestParsing.h"

#include "tests/support/Utf8Text.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <set>

namespace idxtest {

namespace enginestub {

bool EqualsNoCase(const std::string &strA, const std::string &strB) {
    return strA.size() == strB.size() &&
           std::equal(strA.begin(), strA.end(), strB.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool ContainsNoCase(const std::string &strText, const std::string &strPart) {
    return std::search(strText.begin(), strText.end(), strPart.begin(), strPart.end(),
                       [](char a, char b) {
                           return std::tolower(static_cast<unsigned char>(a)) ==
                                  std::tolower(static_cast<unsigned char>(b));
                       }) != strText.end();
}

std::string PercentDecode(const std::string &strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size(); ++i) {
        char c = strText[i];
        if (c == '+') {
            strOut += ' ';
        } else if (c == '%' && i + 2 < strText.size() &&
                   std::isxdigit(static_cast<unsigned char>(strText[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(strText[i + 2]))) {
            strOut += static_cast<char>(std::stoi(strText.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            strOut += c;
        }
    }
    return strOut;
}

std::vector<std::pair<std::string, std::string>> ParseForm(const std::string &strText) {
    std::vector<std::pair<std::string, std::string>> vecOut;
    size_t nPos = 0;
    while (nPos <= strText.size() && !strText.empty()) {
        size_t nEnd = strText.find('&', nPos);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strPair = strText.substr(nPos, nEnd - nPos);
        if (!strPair.empty()) {
            size_t nEq = strPair.find('=');
            if (nEq == std::string::npos) {
                vecOut.emplace_back(PercentDecode(strPair), std::string());
            } else {
                vecOut.emplace_back(PercentDecode(strPair.substr(0, nEq)),
                                    PercentDecode(strPair.substr(nEq + 1)));
            }
        }
        nPos = nEnd + 1;
    }
    return vecOut;
}

namespace {

// Checks that the bytes are UTF-8 and every character is allowed in XML 1.0, as a conforming
// parser does before it looks at the markup.
bool CheckXmlText(const std::string &strText, std::string &strError) {
    strError = XmlTextProblem(strText);
    return strError.empty();
}

bool IsBlank(const char *szText) {
    for (; *szText; ++szText) {
        if (!std::isspace(static_cast<unsigned char>(*szText)))
            return false;
    }
    return true;
}

// Text of an element that may hold only character data and CDATA sections.
bool ElementText(const pugi::xml_node &node, std::string &strText, std::string &strError) {
    strText.clear();
    for (const pugi::xml_node &child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            strText += child.value();
        } else if (child.type() == pugi::node_element) {
            strError = std::string("Unexpected element <") + child.name() + "> inside <" +
                       node.name() + ">";
            return false;
        }
    }
    return CheckXmlText(strText, strError);
}

bool OnlyElementsNamed(const pugi::xml_node &node, const std::set<std::string> &setNames,
                       std::string &strError) {
    for (const pugi::xml_node &child : node.children()) {
        if (child.type() == pugi::node_element && setNames.count(child.name()) == 0) {
            strError = std::string("Unexpected element <") + child.name() + "> inside <" +
                       node.name() + ">";
            return false;
        }
        if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
            !IsBlank(child.value())) {
            strError = std::string("Unexpected text inside <") + node.name() + ">";
            return false;
        }
    }
    return true;
}

bool ParseDoc(const pugi::xml_node &nodeDoc, DocUpdate &doc, std::string &strError) {
    if (!OnlyElementsNamed(nodeDoc, {"field"}, strError))
        return false;
    bool bHasKey = false;
    for (const pugi::xml_node &nodeField : nodeDoc.children("field")) {
        FieldUpdate field;
        field.strName = nodeField.attribute("name").value();
        if (field.strName.empty()) {
            strError = "A <field> element has no name attribute";
            return false;
        }
        pugi::xml_attribute attrUpdate = nodeField.attribute("update");
        if (attrUpdate) {
            field.strOp = attrUpdate.value();
            if (field.strOp != "set" && field.strOp != "add") {
                strError =
                    "Unknown update operation '" + field.strOp + "' on field " + field.strName;
                return false;
            }
        }
        if (!ElementText(nodeField, field.strValue, strError))
            return false;
        strError = FieldTypeProblem(field.strName, field.strValue);
        if (!strError.empty())
            return false;
        if (field.strName == kKeyField) {
            if (!field.strOp.empty()) {
                strError = "The key field contentid cannot be updated atomically";
                return false;
            }
            if (bHasKey || field.strValue.empty()) {
                strError = "Document has a missing or repeated contentid";
                return false;
            }
            bHasKey = true;
            doc.strKey = field.strValue;
        }
        doc.bAtomic = doc.bAtomic || !field.strOp.empty();
        doc.vecFields.push_back(std::move(field));
    }
    if (!bHasKey) {
        strError = "Document is missing mandatory uniqueKey field: contentid";
        return false;
    }
    return true;
}

} // namespace

bool ParseUpdate(const std::string &strBody, UpdateCommand &cmd, std::string &strError) {
    if (strBody.empty()) {
        strError = "missing content stream";
        return false;
    }
    if (!CheckXmlText(strBody, strError))
        return false;
    pugi::xml_document xml;
    pugi::xml_parse_result result =
        xml.load_buffer(strBody.data(), strBody.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        strError = std::string("Unparseable XML: ") + result.description() + " at offset " +
                   std::to_string(result.offset);
        return false;
    }
    pugi::xml_node nodeRoot;
    for (const pugi::xml_node &child : xml.children()) {
        if (child.type() == pugi::node_element) {
            if (nodeRoot) {
                strError = "More than one root element";
                return false;
            }
            nodeRoot = child;
        } else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            strError = "Text outside the root element";
            return false;
        }
    }
    std::string strRoot = nodeRoot ? nodeRoot.name() : "";
    if (strRoot == "add") {
        cmd.eKind = UpdateCommand::Add;
        if (!OnlyElementsNamed(nodeRoot, {"doc"}, strError))
            return false;
        for (const pugi::xml_node &nodeDoc : nodeRoot.children("doc")) {
            cmd.vecDocs.emplace_back();
            if (!ParseDoc(nodeDoc, cmd.vecDocs.back(), strError))
                return false;
        }
        return true;
    }
    if (strRoot == "commit") {
        cmd.eKind = UpdateCommand::Commit;
        return OnlyElementsNamed(nodeRoot, {}, strError);
    }
    if (strRoot == "delete") {
        cmd.eKind = UpdateCommand::Delete;
        if (!OnlyElementsNamed(nodeRoot, {"query", "id"}, strError))
            return false;
        for (const pugi::xml_node &child : nodeRoot.children()) {
            if (child.type() != pugi::node_element)
                continue;
            std::string strText;
            if (!ElementText(child, strText, strError))
                return false;
            if (std::string(child.name()) == "id") {
                cmd.vecIds.push_back(strText);
            } else {
                cmd.vecQueries.emplace_back();
                if (!ParseEngineQuery(strText, cmd.vecQueries.back(), strError))
                    return false;
            }
        }
        return true;
    }
    strError = strRoot.empty() ? std::string("No root element") : "Unexpected <" + strRoot + ">";
    return false;
}

EngineDocument ExtractLiterals(const EngineRequest &request) {
    EngineDocument doc;
    for (const auto &[strKey, strValue] : request.vecParams) {
        if (strKey.compare(0, 8, "literal.") == 0 && strKey.size() > 8) {
            doc.mapFields[strKey.substr(8)].push_back(strValue);
        }
    }
    return doc;
}

std::string FieldTypeProblem(const std::string &strName, const std::string &strValue) {
    static const std::set<std::string> setIntegerFields = {"ClientId",   "ApplicationId",  "JobId",
                                                           "CollectId",  "CollectOffset",  "Size",
                                                           "SizeOnDisk", "ChangeTimeAsInt"};
    if (setIntegerFields.count(strName) == 0)
        return std::string();
    // A whole number in decimal that fits 64 bits, signed or, without a sign, unsigned.
    const bool bNegative = !strValue.empty() && strValue[0] == '-';
    bool bInteger = strValue.size() > (bNegative ? 1u : 0u) &&
                    std::all_of(strValue.begin() + (bNegative ? 1 : 0), strValue.end(),
                                [](char c) { return c >= '0' && c <= '9'; });
    if (bInteger) {
        errno = 0;
        if (bNegative) {
            std::strtoll(strValue.c_str(), nullptr, 10);
        } else {
            std::strtoull(strValue.c_str(), nullptr, 10);
        }
        bInteger = errno == 0;
    }
    if (bInteger)
        return std::string();
    return "Error adding field '" + strName + "'='" + strValue + "' msg=For input string: \"" +
           strValue + "\"";
}

std::string ParamUtf8Problem(const EngineRequest &request) {
    for (size_t i = 0; i < request.vecParams.size(); ++i) {
        if (!IsValidUtf8(request.vecParams[i].first) || !IsValidUtf8(request.vecParams[i].second)) {
            return "Invalid UTF-8 in request parameter " + std::to_string(i + 1) +
                   " after percent-decoding";
        }
    }
    return std::string();
}

} // namespace enginestub

std::string EngineRequest::Header(const std::string &strName) const {
    for (const auto &[strKey, strValue] : vecHeaders) {
        if (enginestub::EqualsNoCase(strKey, strName))
            return strValue;
    }
    return std::string();
}

std::string EngineRequest::Param(const std::string &strName) const {
    for (const auto &[strKey, strValue] : vecParams) {
        if (strKey == strName)
            return strValue;
    }
    return std::string();
}

bool EngineRequest::HasParam(const std::string &strName) const {
    return std::any_of(vecParams.begin(), vecParams.end(),
                       [&](const auto &pair) { return pair.first == strName; });
}

} // namespace idxtest
