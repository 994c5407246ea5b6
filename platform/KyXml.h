// XML documents: parse text, find nodes by name and by XPath, read their text and attributes, and
// build a small document and write it out as text.
//
// Nodes keep their document alive, so a node stays valid after the document object is gone or
// has loaded other text. A document may be read from several threads at once; building one
// (CreateRoot, AppendChild, Set...) needs a single thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "foundation/MakeSharedNothrow.h"

// One node of a document (an element, or an attribute found by XPath); empty when a lookup found
// nothing. Defined by the implementation.
class CKyXNodePrivate;
class CKyXDocumentPrivate;

class IDX_EXPORT CKyXNode {
public:
    CKyXNode() = default;
    explicit CKyXNode(boost::shared_ptr<CKyXNodePrivate> ptrPrivate)
        : m_ptrPrivate(std::move(ptrPrivate)) {}

    bool IsEmpty() const;
    bool IsValid() const { return !IsEmpty(); }

    // Element or attribute name; empty for an empty node.
    std::string GetName() const;
    // All the text inside the node in document order (an attribute's value for an attribute);
    // an empty node gives the empty text and success.
    CKyError GetText(std::string &strText) const;
    // False when the node is no element or has no such attribute.
    bool GetAttribute(const std::string &strName, std::string &strValue) const;

    // The first child element with that name, or an empty node.
    CKyXNode GetChild(const std::string &strName) const;
    std::vector<CKyXNode> GetChildren() const;

    // Building: an empty node ignores these, and AppendChild on it gives an empty node.
    CKyXNode AppendChild(const std::string &strName);
    void SetText(const std::string &strText);
    void SetAttribute(const std::string &strName, const std::string &strValue);

    const boost::shared_ptr<CKyXNodePrivate> &NodePrivate() const { return m_ptrPrivate; }

private:
    boost::shared_ptr<CKyXNodePrivate> m_ptrPrivate;
};

// One result of an XPath selection.
class IDX_EXPORT CKyXPathNode {
public:
    CKyXPathNode() = default;
    explicit CKyXPathNode(boost::shared_ptr<CKyXNodePrivate> ptrPrivate)
        : m_ptrPrivate(std::move(ptrPrivate)) {}

    const boost::shared_ptr<CKyXNodePrivate> &NodePrivate() const { return m_ptrPrivate; }

    // Wraps the result in a node object; allocation failures are not turned into errors.
    template <typename TNode> CKyError GetNodeAs(boost::shared_ptr<TNode> &ptrNode) const {
        ptrNode.reset(new TNode(NodePrivate()));
        return CKyError::Success();
    }

private:
    boost::shared_ptr<CKyXNodePrivate> m_ptrPrivate;
};

class IDX_EXPORT CKyXPathNodeSet {
public:
    size_t size() const { return m_vecNodes.size(); }
    bool empty() const { return m_vecNodes.empty(); }
    // The result at that position; past the end, a result around an empty node, so that a
    // caller reading the first result of an empty selection gets empty text.
    CKyXPathNode Node(size_t nIndex) const;

    void Clear() { m_vecNodes.clear(); }
    void Add(const CKyXPathNode &node) { m_vecNodes.push_back(node); }

private:
    std::vector<CKyXPathNode> m_vecNodes;
};

class IDX_EXPORT CKyXDocument {
public:
    // Texts longer than this are refused rather than parsed.
    static constexpr size_t kMaxTextSize = 64u * 1024u * 1024u;

    CKyXDocument();

    // Replaces the document with the parsed text. Malformed text is error 774 naming the parse
    // error and its byte offset; the document is then empty.
    CKyError LoadFromString(const std::string &strText);

    // The first node the XPath selects, evaluated from the document node ("response" finds the
    // root element of that name); an empty record when nothing matches or the expression is
    // not valid XPath (logged).
    boost::shared_ptr<CKyXNodePrivate> GetNode(const std::string &strXPath) const;

    template <typename TNode>
    CKyError GetNode(boost::shared_ptr<TNode> &ptrNode, const std::string &strXPath) const {
        ptrNode = boost::make_shared_nothrow<TNode>(GetNode(strXPath));
        if (!ptrNode) {
            return FXErrorUtil::ErrorWin32(FXLOC, 14);
        }
        return CKyError::Success();
    }

    // Every node the XPath selects, in document order. An invalid expression is error 774 naming
    // it and the reason.
    CKyError SelectNodes(const std::string &strXPath, CKyXPathNodeSet &nodeSet) const;

    // The root element, or an empty node.
    CKyXNode GetRoot() const;

    // Building: starts a new document with a root element of that name.
    CKyXNode CreateRoot(const std::string &strName);
    // The document as text, without an XML declaration; indented when asked.
    CKyError SaveToString(std::string &strText, bool bIndent = false) const;

private:
    boost::shared_ptr<CKyXDocumentPrivate> m_ptrPrivate;
};

typedef boost::shared_ptr<CKyXDocument> CKyXDocumentPtr;
typedef boost::shared_ptr<CKyXNode> CKyXNodePtr;
