// One XML document: parsed from a string or a file, queried with XPath 1.0, saved to a file.
// Every operation reports failure by its result and never throws.
#pragma once

#include <string>

#include "xml/CXmlNode.h"

namespace Tavix {

class CXmlDocument {
  public:
    CXmlDocument() = default;
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Replaces any content by a fresh, empty document.
    bool Create();
    // A missing file leaves the document as it was; a file that does not parse leaves it empty
    // but remembers the path.
    bool Open(const char* path);
    bool LoadXml(const char* xml);
    void Close();
    // The document element; a null node when closed or empty.
    CXmlNodePtr GetRoot() const;
    // Without a path, saves to the file last opened or saved to. The old file stays untouched
    // when the save fails.
    bool Save(const char* path = nullptr);
    // A relative expression is evaluated against the document element.
    CXmlNodePtr SelectSingleNode(const char* xpath) const;

  private:
    TreePtr m_tree;  // null while closed
    std::string m_strPath;
};

}  // namespace Tavix
