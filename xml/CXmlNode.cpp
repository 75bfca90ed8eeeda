#include "xml/CXmlNode.h"

#include <utility>
#include <vector>

#include "xml/CXmlNodes.h"
#include "xml/XmlText.h"

namespace Tavix {

CXmlNode::CXmlNode(const CXmlNodePtr& other) {
    if (other) {
        m_tree = other->m_tree;
        m_node = other->m_node;
    }
}

CXmlNode::CXmlNode(TreePtr tree, const pugi::xpath_node& node)
    : m_tree(std::move(tree)), m_node(node) {
    if (!m_node) {
        m_tree.reset();
    }
}

CXmlNodePtr CXmlNode::operator=(CXmlNodePtr other) {
    if (other) {
        m_tree = other->m_tree;
        m_node = other->m_node;
    } else {
        m_tree.reset();
        m_node = pugi::xpath_node();
    }
    return other;
}

bool CXmlNode::IsNull() const {
    return !m_node;
}

std::string CXmlNode::GetName() const {
    try {
        if (m_node.attribute()) {
            return detail::ToValidUtf8(m_node.attribute().name());
        }
        const pugi::xml_node node = m_node.node();
        switch (node.type()) {
            case pugi::node_null:
                return {};
            case pugi::node_document:
                return "#document";
            case pugi::node_pcdata:
                return "#text";
            case pugi::node_cdata:
                return "#cdata-section";
            case pugi::node_comment:
                return "#comment";
            case pugi::node_declaration:
                return "xml";
            case pugi::node_doctype: {
                const std::string value = node.value();
                return detail::ToValidUtf8(value.substr(0, value.find_first_of(" \t\r\n[")));
            }
            default:
                return detail::ToValidUtf8(node.name());
        }
    } catch (...) {
        return {};
    }
}

bool CXmlNode::GetText(std::string& out) const {
    if (!m_node) {
        return false;
    }
    try {
        out = detail::TextOf(m_node);
        return true;
    } catch (...) {
        out.clear();
        return false;
    }
}

std::string CXmlNode::GetValue() const {
    std::string value;
    GetText(value);
    return value;
}

bool CXmlNode::SetText(const char* text) {
    if (!m_node) {
        return false;
    }
    try {
        const std::string value = detail::ToValidUtf8(text != nullptr ? text : "");
        if (m_node.attribute()) {
            return m_node.attribute().set_value(value.c_str());
        }
        pugi::xml_node node = m_node.node();
        switch (node.type()) {
            case pugi::node_element: {
                while (node.first_child()) {
                    node.remove_child(node.first_child());
                }
                if (value.empty()) {
                    return true;
                }
                return static_cast<bool>(
                    node.append_child(pugi::node_pcdata).set_value(value.c_str()));
            }
            case pugi::node_pcdata:
            case pugi::node_cdata:
            case pugi::node_comment:
            case pugi::node_pi:
            case pugi::node_doctype:
                return node.set_value(value.c_str());
            default:
                return false;
        }
    } catch (...) {
        return false;
    }
}

bool CXmlNode::SetValue(const std::string& value) {
    return SetText(value.c_str());
}

bool CXmlNode::GetAttribute(const std::string& name, std::string& out) const {
    const pugi::xml_node node = m_node.node();
    if (m_node.attribute() || node.type() != pugi::node_element) {
        return false;
    }
    try {
        const pugi::xml_attribute attr = node.attribute(name.c_str());
        out = attr ? detail::ToValidUtf8(attr.value()) : std::string();
        return true;
    } catch (...) {
        return false;
    }
}

std::string CXmlNode::GetAttribute(const std::string& name, const char* defaultValue) const {
    std::string result;
    try {
        GetAttribute(name, result);
        if (result.empty() && defaultValue != nullptr) {
            result = defaultValue;
        }
    } catch (...) {
        result.clear();
    }
    return result;
}

std::string CXmlNode::GetXml() const {
    try {
        return detail::Serialize(m_node);
    } catch (...) {
        return {};
    }
}

std::string CXmlNode::GetInnerXml() const {
    try {
        std::string xml = GetXml();
        // UTF-8 trail bytes never look like '<' or '>', so a byte search is exact.
        const std::size_t a = xml.empty() ? std::string::npos : xml.find('>');
        const std::size_t b = xml.rfind('<');
        if (a != std::string::npos && b != std::string::npos && a > 0 && b > 0 && a < b) {
            return xml.substr(a + 1, b - a - 1);
        }
        return xml;
    } catch (...) {
        return {};
    }
}

CXmlNodePtr CXmlNode::SelectSingleNode(const char* xpath) const {
    if (!m_node || xpath == nullptr) {
        return detail::NullNode();
    }
    try {
        const pugi::xpath_query query(xpath);
        if (!query || query.return_type() != pugi::xpath_type_node_set) {
            return detail::NullNode();
        }
        const pugi::xpath_node found = query.evaluate_node(m_node);
        return std::make_shared<CXmlNode>(m_tree, found);
    } catch (...) {
        return detail::NullNode();
    }
}

CXmlNodesPtr CXmlNode::GetChildren() const {
    try {
        if (!m_node) {
            return std::make_shared<CXmlNodes>();
        }
        std::vector<pugi::xpath_node> children;
        if (!m_node.attribute()) {
            for (const pugi::xml_node child : m_node.node().children()) {
                if (child.type() == pugi::node_element) {
                    children.emplace_back(child);
                }
            }
        }
        return std::make_shared<CXmlNodes>(m_tree, std::move(children));
    } catch (...) {
        try {
            return std::make_shared<CXmlNodes>();
        } catch (...) {
            return {};
        }
    }
}

CXmlNodePtr CXmlNode::NewChild(const std::string& name) {
    if (!m_node || m_node.attribute() || !detail::IsXmlName(name)) {
        return detail::NullNode();
    }
    try {
        pugi::xml_node node = m_node.node();
        if (node.type() == pugi::node_document) {
            for (const pugi::xml_node child : node.children()) {
                if (child.type() == pugi::node_element) {
                    return detail::NullNode();  // a document has one element only
                }
            }
        }
        if (node.type() != pugi::node_element && node.type() != pugi::node_document) {
            return detail::NullNode();
        }
        const pugi::xml_node child = node.append_child(name.c_str());
        return std::make_shared<CXmlNode>(m_tree, pugi::xpath_node(child));
    } catch (...) {
        return detail::NullNode();
    }
}

}  // namespace Tavix
