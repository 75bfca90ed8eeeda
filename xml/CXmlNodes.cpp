#include "xml/CXmlNodes.h"

#include <utility>

#include "xml/XmlText.h"

namespace Tavix {

CXmlNodes::CXmlNodes(TreePtr tree, std::vector<pugi::xpath_node> items)
    : m_bNull(false), m_tree(std::move(tree)), m_items(std::move(items)) {}

CXmlNodesPtr CXmlNodes::operator=(CXmlNodesPtr other) {
    if (other) {
        m_bNull = other->m_bNull;
        m_tree = other->m_tree;
        m_items = other->m_items;
    } else {
        m_bNull = true;
        m_tree.reset();
        m_items.clear();
    }
    return other;
}

std::int32_t CXmlNodes::GetCount() const {
    if (m_bNull) {
        return -1;
    }
    return static_cast<std::int32_t>(m_items.size());
}

CXmlNodePtr CXmlNodes::GetItem(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_items.size()) {
        return detail::NullNode();
    }
    try {
        return std::make_shared<CXmlNode>(m_tree, m_items[static_cast<std::size_t>(index)]);
    } catch (...) {
        return detail::NullNode();
    }
}

}  // namespace Tavix
