// Parses arbitrary bytes as a document and walks what came out. Markup the wrapper writes must
// parse again to the same markup, since stored files are read back from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/Tavix.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Walk(const Tavix::CXmlNodePtr& node, int depth) {
    if (depth > 64 || node->IsNull()) {
        return;
    }
    std::string text;
    Require(node->GetText(text));
    Require(!node->GetName().empty());
    const std::string xml = node->GetXml();
    const std::string inner = node->GetInnerXml();
    Require(inner.size() <= xml.size());
    node->GetAttribute("name", "d");
    const Tavix::CXmlNodesPtr children = node->GetChildren();
    Require(children->GetCount() >= 0);
    for (int i = 0; i < children->GetCount() && i < 16; ++i) {
        Walk(children->GetItem(i), depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A first line, when there is one, is an XPath expression; the rest is the document.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = bytes.find('\n');
    const std::string xpath = newline == std::string::npos ? "*" : bytes.substr(0, newline);
    const std::string input = newline == std::string::npos ? bytes : bytes.substr(newline + 1);

    Tavix::CXmlDocument doc;
    if (!doc.LoadXml(input.c_str())) {
        Require(doc.GetRoot()->IsNull());
        return 0;
    }
    const Tavix::CXmlNodePtr root = doc.GetRoot();
    Require(!root->IsNull());
    Walk(root, 0);
    const Tavix::CXmlNodePtr found = doc.SelectSingleNode(xpath.c_str());
    Require(found != nullptr);
    found->GetXml();
    found->GetValue();

    const std::string markup = root->GetXml();
    Tavix::CXmlDocument again;
    Require(again.LoadXml(markup.c_str()));
    Require(again.GetRoot()->GetXml() == markup);

    root->NewChild(xpath)->SetText(input.c_str());
    doc.Close();
    Require(!root->GetXml().empty());  // the node keeps its tree alive
    return 0;
}
