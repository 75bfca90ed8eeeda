#include "xml/XmlText.h"

#include <algorithm>
#include <vector>

namespace Tavix::detail {

namespace {

class StringWriter : public pugi::xml_writer {
  public:
    explicit StringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, size_t size) override {
        m_out.append(static_cast<const char*>(data), size);
    }

  private:
    std::string& m_out;
};

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        return 1;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) {
            lo = 0xA0;  // no overlong forms
        } else if (b0 == 0xED) {
            hi = 0x9F;  // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    if (i + len > text.size()) {
        return 0;
    }
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    if (b1 < lo || b1 > hi) {
        return 0;
    }
    for (std::size_t k = 2; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if (b < 0x80 || b > 0xBF) {
            return 0;
        }
    }
    return len;
}

bool IsNameStartAscii(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool IsNameAscii(char c) {
    return IsNameStartAscii(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void AppendEscapedAttribute(std::string& out, const char* value) {
    for (const char* p = value; *p != '\0'; ++p) {
        switch (*p) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += *p;
                break;
        }
    }
}

}  // namespace

CXmlNodePtr NullNode() {
    try {
        return std::make_shared<CXmlNode>();
    } catch (...) {
        return {};
    }
}

std::string ToValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t len = Utf8SequenceLength(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

bool IsXmlName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    const std::string valid = ToValidUtf8(name);
    if (valid.size() != name.size() || valid != name) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            continue;
        }
        if (i == 0 ? !IsNameStartAscii(c) : !IsNameAscii(c)) {
            return false;
        }
    }
    return true;
}

namespace {

// The node after cur in a depth-first walk of root's subtree, without recursion (documents from
// outside may nest deeply); null once the walk is done.
pugi::xml_node NextInSubtree(pugi::xml_node cur, const pugi::xml_node& root) {
    if (cur.first_child()) {
        return cur.first_child();
    }
    while (cur && cur != root && !cur.next_sibling()) {
        cur = cur.parent();
    }
    if (!cur || cur == root) {
        return {};
    }
    return cur.next_sibling();
}

bool HasDuplicateAttributes(const pugi::xml_node& root) {
    std::vector<std::string_view> names;
    for (pugi::xml_node cur = root; cur; cur = NextInSubtree(cur, root)) {
        if (cur.first_attribute() && cur.first_attribute().next_attribute()) {
            names.clear();
            for (const pugi::xml_attribute attr : cur.attributes()) {
                names.emplace_back(attr.name());
            }
            std::sort(names.begin(), names.end());
            if (std::adjacent_find(names.begin(), names.end()) != names.end()) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool ParseDocument(pugi::xml_document& doc, const void* data, std::size_t size,
                   pugi::xml_encoding encoding) {
    const pugi::xml_parse_result result = doc.load_buffer(data, size, kParseOptions, encoding);
    bool ok = static_cast<bool>(result);
    int elements = 0;
    pugi::xml_node element;
    for (pugi::xml_node child = doc.first_child(); ok && child; child = child.next_sibling()) {
        switch (child.type()) {
            case pugi::node_element:
                ++elements;
                element = child;
                break;
            case pugi::node_declaration:
                ok = child == doc.first_child();
                break;
            case pugi::node_doctype:
                ok = elements == 0;
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                ok = false;
                break;
            default:
                break;
        }
    }
    if (!ok || elements != 1 || HasDuplicateAttributes(element)) {
        doc.reset();
        return false;
    }
    return true;
}

std::string Serialize(const pugi::xpath_node& node) {
    std::string out;
    if (node.attribute()) {
        out = node.attribute().name();
        out += "=\"";
        AppendEscapedAttribute(out, node.attribute().value());
        out += '"';
    } else if (node.node()) {
        StringWriter writer(out);
        node.node().print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    }
    return ToValidUtf8(out);
}

std::string TextOf(const pugi::xpath_node& node) {
    if (node.attribute()) {
        return ToValidUtf8(node.attribute().value());
    }
    const pugi::xml_node start = node.node();
    switch (start.type()) {
        case pugi::node_element:
        case pugi::node_document:
            break;
        case pugi::node_declaration:
        case pugi::node_null:
            return {};
        default:
            return ToValidUtf8(start.value());
    }
    std::string out;
    for (pugi::xml_node cur = start.first_child(); cur; cur = NextInSubtree(cur, start)) {
        if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) {
            out += cur.value();
        }
    }
    return ToValidUtf8(out);
}

}  // namespace Tavix::detail
