// The XML DOM the program reads its answers with: documents loaded from files, XPath
// selection, node text and attributes. Nodes keep their document alive.
#pragma once

#include <memory>
#include <vector>

#include "platform/cstring.h"
#include "platform/wintypes.h"

class XmlNodeList;

class XmlNode {
public:
    XmlNode() = default;
    explicit operator bool() const { return node_ || attr_; }

    // Every node an XPath 1.0 expression selects from this node, in document order.
    // E_INVALIDARG for an expression that does not compile, E_POINTER on an empty node.
    HRESULT selectNodes(const wchar_t* xpath, XmlNodeList& out) const;
    // The first node selected, in document order; S_FALSE and an empty node when none.
    HRESULT selectSingleNode(const wchar_t* xpath, XmlNode& out) const;
    // The text of the node and all its descendants joined, leading and trailing white
    // space trimmed (white space is not preserved).
    HRESULT get_text(CStringW& out) const;
    // The attribute of that name, as a node whose text is its value; S_FALSE and an
    // empty node when the element has none.
    HRESULT getNamedItem(const wchar_t* name, XmlNode& out) const;

protected:
    struct Doc;
    XmlNode(std::shared_ptr<Doc> doc, void* node, void* attr) : doc_(std::move(doc)), node_(node), attr_(attr) {}
    std::shared_ptr<Doc> doc_;
    void* node_ = nullptr;  // the parser's element or document
    void* attr_ = nullptr;  // the parser's attribute, for attribute nodes
};

class XmlNodeList {
public:
    HRESULT get_length(LONG* length) const;
    // S_FALSE and an empty node for an index out of range.
    HRESULT get_item(LONG index, XmlNode& out) const;

private:
    friend class XmlNode;
    std::vector<XmlNode> nodes_;
};

class XmlDocument : public XmlNode {
public:
    // Reads the file (backslash path). The encoding comes from a byte-order mark or the
    // declaration (UTF-8 when neither says); 8-bit encodings such as GBK are converted.
    // False on any failure, with the reason in parseErrorReason().
    bool load(const wchar_t* path);
    const CStringW& parseErrorReason() const { return reason_; }

    // Files larger than this are refused: no answer comes near it.
    static constexpr size_t kMaxFileBytes = 32u << 20;

private:
    CStringW reason_;
};
