// One node of a Tavix XML document: element, text, comment, attribute or other DOM node. A node
// shares ownership of the parsed tree, so it stays usable after its document is closed.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>

namespace Tavix {

class CXmlNode;
class CXmlNodes;
using CXmlNodePtr = std::shared_ptr<CXmlNode>;
using CXmlNodesPtr = std::shared_ptr<CXmlNodes>;

// The parsed tree that documents, nodes and lists hold on to.
using TreePtr = std::shared_ptr<pugi::xml_document>;

class CXmlNode {
  public:
    CXmlNode() = default;
    // Shares the node of the handle (a null handle gives a null node).
    explicit CXmlNode(const CXmlNodePtr& other);
    CXmlNode(TreePtr tree, const pugi::xpath_node& node);

    CXmlNodePtr operator=(CXmlNodePtr other);

    bool IsNull() const;
    // The DOM nodeName: the tag of an element, "#text", "#comment", an attribute's name...
    std::string GetName() const;
    // The text of the node and all its descendants. False for a null node (out unchanged).
    bool GetText(std::string& out) const;
    std::string GetValue() const;
    // Replaces the node's content by this one text.
    bool SetText(const char* text);
    bool SetValue(const std::string& value);
    // A missing attribute is not a failure: true with out "".
    bool GetAttribute(const std::string& name, std::string& out) const;
    // The attribute's value, or the default (or "") when it is missing, empty or unreadable.
    std::string GetAttribute(const std::string& name, const char* defaultValue) const;
    // The node serialised as compact markup with its descendants.
    std::string GetXml() const;
    // The markup between the node's start and end tag; the whole markup when there is no such
    // pair (an empty element, a text node).
    std::string GetInnerXml() const;
    // XPath 1.0 with this node as the context node.
    CXmlNodePtr SelectSingleNode(const char* xpath) const;
    // The element children in document order.
    CXmlNodesPtr GetChildren() const;
    // Appends a new element as the last child; a null node for an invalid name.
    CXmlNodePtr NewChild(const std::string& name);

  private:
    TreePtr m_tree;
    pugi::xpath_node m_node;  // an xml_node, or an attribute with its parent element
};

}  // namespace Tavix
