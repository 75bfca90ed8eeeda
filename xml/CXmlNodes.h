// An ordered list of nodes of a Tavix XML document, as a selection returns it.
#pragma once

#include <cstdint>
#include <vector>

#include "xml/CXmlNode.h"

namespace Tavix {

class CXmlNodes {
  public:
    // A null list.
    CXmlNodes() = default;
    CXmlNodes(TreePtr tree, std::vector<pugi::xpath_node> items);

    CXmlNodesPtr operator=(CXmlNodesPtr other);

    // -1 for a null list, so a walk counting up from 0 does not start.
    std::int32_t GetCount() const;
    // A null node for an index outside 0 ... GetCount()-1.
    CXmlNodePtr GetItem(std::int32_t index) const;

  private:
    bool m_bNull = true;
    TreePtr m_tree;
    std::vector<pugi::xpath_node> m_items;
};

}  // namespace Tavix
