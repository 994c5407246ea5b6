#include "platform/KyXml.h"

#include <boost/make_shared.hpp>
#include <cstring>
#include <exception>
#include <pugixml.hpp>

#include "platform/LogWriter.h"

class CKyXDocumentPrivate {
public:
    pugi::xml_document m_document;
};

class CKyXNodePrivate {
public:
    CKyXNodePrivate() = default;
    CKyXNodePrivate(boost::shared_ptr<CKyXDocumentPrivate> ptrDocument, pugi::xml_node node,
                    pugi::xml_attribute attribute = pugi::xml_attribute())
        : m_ptrDocument(std::move(ptrDocument)), m_node(node), m_attribute(attribute) {}

    // Keeps the document's memory alive for as long as the node is used.
    boost::shared_ptr<CKyXDocumentPrivate> m_ptrDocument;
    pugi::xml_node m_node;
    pugi::xml_attribute m_attribute; // set when the node is an attribute
};

namespace {

bool IsTextNode(const pugi::xml_node &node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The XPath string value: every text node below the element, in document order. Walks without
// recursion so that deeply nested input cannot exhaust the stack.
void AppendDescendantText(const pugi::xml_node &top, std::string &strText) {
    pugi::xml_node node = top.first_child();
    while (node) {
        if (IsTextNode(node)) {
            strText += node.value();
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != top && !node.next_sibling()) {
            node = node.parent();
        }
        if (node == top) {
            break;
        }
        node = node.next_sibling();
    }
}

// Names that pugixml would write out as they are and that no parser would read back.
bool IsUsableName(const std::string &strName) {
    if (strName.empty()) {
        return false;
    }
    return strName.find_first_of(" \t\r\n<>&\"'/=") == std::string::npos;
}

class CStringWriter : public pugi::xml_writer {
public:
    explicit CStringWriter(std::string &strOut) : m_strOut(strOut) {}
    void write(const void *pData, size_t nSize) override {
        m_strOut.append(static_cast<const char *>(pData), nSize);
    }

private:
    std::string &m_strOut;
};

boost::shared_ptr<CKyXNodePrivate> EmptyRecord() {
    return boost::make_shared<CKyXNodePrivate>();
}

} // namespace

// ---- CKyXNode ----

bool CKyXNode::IsEmpty() const {
    return !m_ptrPrivate || (!m_ptrPrivate->m_node && !m_ptrPrivate->m_attribute);
}

std::string CKyXNode::GetName() const {
    if (IsEmpty()) {
        return std::string();
    }
    if (m_ptrPrivate->m_attribute) {
        return m_ptrPrivate->m_attribute.name();
    }
    return m_ptrPrivate->m_node.name();
}

CKyError CKyXNode::GetText(std::string &strText) const {
    strText.clear();
    if (IsEmpty()) {
        return CKyError::Success();
    }
    if (m_ptrPrivate->m_attribute) {
        strText = m_ptrPrivate->m_attribute.value();
    } else if (IsTextNode(m_ptrPrivate->m_node)) {
        strText = m_ptrPrivate->m_node.value();
    } else {
        AppendDescendantText(m_ptrPrivate->m_node, strText);
    }
    return CKyError::Success();
}

bool CKyXNode::GetAttribute(const std::string &strName, std::string &strValue) const {
    if (IsEmpty() || m_ptrPrivate->m_attribute) {
        return false;
    }
    pugi::xml_attribute attribute = m_ptrPrivate->m_node.attribute(strName.c_str());
    if (!attribute) {
        return false;
    }
    strValue = attribute.value();
    return true;
}

CKyXNode CKyXNode::GetChild(const std::string &strName) const {
    if (IsEmpty() || m_ptrPrivate->m_attribute) {
        return CKyXNode();
    }
    pugi::xml_node child = m_ptrPrivate->m_node.child(strName.c_str());
    if (!child) {
        return CKyXNode();
    }
    return CKyXNode(boost::make_shared<CKyXNodePrivate>(m_ptrPrivate->m_ptrDocument, child));
}

std::vector<CKyXNode> CKyXNode::GetChildren() const {
    std::vector<CKyXNode> vecChildren;
    if (IsEmpty() || m_ptrPrivate->m_attribute) {
        return vecChildren;
    }
    for (pugi::xml_node child : m_ptrPrivate->m_node.children()) {
        if (child.type() == pugi::node_element) {
            vecChildren.emplace_back(
                boost::make_shared<CKyXNodePrivate>(m_ptrPrivate->m_ptrDocument, child));
        }
    }
    return vecChildren;
}

CKyXNode CKyXNode::AppendChild(const std::string &strName) {
    if (IsEmpty() || m_ptrPrivate->m_attribute || !IsUsableName(strName) ||
        m_ptrPrivate->m_node.type() != pugi::node_element) {
        return CKyXNode();
    }
    pugi::xml_node child = m_ptrPrivate->m_node.append_child(strName.c_str());
    if (!child) {
        return CKyXNode();
    }
    return CKyXNode(boost::make_shared<CKyXNodePrivate>(m_ptrPrivate->m_ptrDocument, child));
}

void CKyXNode::SetText(const std::string &strText) {
    if (IsEmpty()) {
        return;
    }
    if (m_ptrPrivate->m_attribute) {
        m_ptrPrivate->m_attribute.set_value(strText.c_str());
    } else {
        m_ptrPrivate->m_node.text().set(strText.c_str());
    }
}

void CKyXNode::SetAttribute(const std::string &strName, const std::string &strValue) {
    if (IsEmpty() || m_ptrPrivate->m_attribute || !IsUsableName(strName) ||
        m_ptrPrivate->m_node.type() != pugi::node_element) {
        return;
    }
    pugi::xml_attribute attribute = m_ptrPrivate->m_node.attribute(strName.c_str());
    if (!attribute) {
        attribute = m_ptrPrivate->m_node.append_attribute(strName.c_str());
    }
    attribute.set_value(strValue.c_str());
}

// ---- CKyXPathNodeSet ----

CKyXPathNode CKyXPathNodeSet::Node(size_t nIndex) const {
    if (nIndex >= m_vecNodes.size()) {
        return CKyXPathNode(EmptyRecord());
    }
    return m_vecNodes[nIndex];
}

// ---- CKyXDocument ----

CKyXDocument::CKyXDocument() : m_ptrPrivate(boost::make_shared<CKyXDocumentPrivate>()) {}

CKyError CKyXDocument::LoadFromString(const std::string &strText) {
    // A fresh document each time: nodes handed out earlier keep the old one alive.
    boost::shared_ptr<CKyXDocumentPrivate> ptrDocument;
    try {
        ptrDocument = boost::make_shared<CKyXDocumentPrivate>();
        m_ptrPrivate = ptrDocument;
        if (strText.size() > kMaxTextSize) {
            return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                           "XML text too large, size=[%zu], limit=[%zu]",
                                           strText.size(), kMaxTextSize);
        }
        pugi::xml_parse_result result = ptrDocument->m_document.load_buffer(
            strText.data(), strText.size(), pugi::parse_default, pugi::encoding_auto);
        if (!result) {
            ptrDocument->m_document.reset();
            return FXErrorUtil::ErrorWin32(
                FXLOC, 774, "Failed to parse XML, error=[%s], offset=[%lld]", result.description(),
                static_cast<long long>(result.offset));
        }
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, 14, "Failed to parse XML, error=[%s]", e.what());
    }
    return CKyError::Success();
}

boost::shared_ptr<CKyXNodePrivate> CKyXDocument::GetNode(const std::string &strXPath) const {
    try {
        pugi::xpath_query query(strXPath.c_str());
        pugi::xpath_node found = m_ptrPrivate->m_document.select_node(query);
        if (found) {
            return boost::make_shared<CKyXNodePrivate>(m_ptrPrivate, found.node(),
                                                       found.attribute());
        }
    } catch (const std::exception &e) {
        IDX_LOG_ERROR("XPath lookup failed, XPath=[%s], error=[%s]", strXPath.c_str(), e.what());
    }
    return EmptyRecord();
}

CKyError CKyXDocument::SelectNodes(const std::string &strXPath, CKyXPathNodeSet &nodeSet) const {
    nodeSet.Clear();
    try {
        pugi::xpath_query query(strXPath.c_str());
        pugi::xpath_node_set found = m_ptrPrivate->m_document.select_nodes(query);
        for (const pugi::xpath_node &xpathNode : found) {
            nodeSet.Add(CKyXPathNode(boost::make_shared<CKyXNodePrivate>(
                m_ptrPrivate, xpathNode.node(), xpathNode.attribute())));
        }
    } catch (const std::exception &e) {
        nodeSet.Clear();
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "XPath selection failed, XPath=[%s], error=[%s]",
                                       strXPath.c_str(), e.what());
    }
    return CKyError::Success();
}

CKyXNode CKyXDocument::GetRoot() const {
    pugi::xml_node root = m_ptrPrivate->m_document.document_element();
    if (!root) {
        return CKyXNode();
    }
    return CKyXNode(boost::make_shared<CKyXNodePrivate>(m_ptrPrivate, root));
}

CKyXNode CKyXDocument::CreateRoot(const std::string &strName) {
    m_ptrPrivate = boost::make_shared<CKyXDocumentPrivate>();
    if (!IsUsableName(strName)) {
        return CKyXNode();
    }
    pugi::xml_node root = m_ptrPrivate->m_document.append_child(strName.c_str());
    return CKyXNode(boost::make_shared<CKyXNodePrivate>(m_ptrPrivate, root));
}

CKyError CKyXDocument::SaveToString(std::string &strText, bool bIndent) const {
    strText.clear();
    try {
        CStringWriter writer(strText);
        unsigned int nFlags =
            pugi::format_no_declaration | (bIndent ? pugi::format_indent : pugi::format_raw);
        m_ptrPrivate->m_document.save(writer, "  ", nFlags, pugi::encoding_utf8);
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, 14, "Failed to write XML, error=[%s]", e.what());
    }
    return CKyError::Success();
}
