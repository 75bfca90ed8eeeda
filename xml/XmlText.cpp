#include "xml/XmlText.h"

#include <algorithm>
#include <vector>

namespace Tavix::detail {

namespace {

class StringWriter : public pugi::xml_writer {
  public:
    explicit StringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, size_t size) override { AppendMarkup(m_out, data, size); }

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

void AppendMarkup(std::string& out, const void* data, std::size_t size) {
    const char* text = static_cast<const char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] == '\r')
            out += "&#13;";
        else
            out += text[i];
    }
}

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

namespace {

bool IsXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the reference that starts with the "&" at text[i], or 0 when it is none that
// resolves without a DTD.
std::size_t ReferenceLength(std::string_view text, std::size_t i) {
    const std::size_t semicolon = text.find(';', i + 1);
    if (semicolon == std::string_view::npos) {
        return 0;
    }
    const std::string_view body = text.substr(i + 1, semicolon - i - 1);
    const std::size_t length = semicolon - i + 1;
    if (body == "lt" || body == "gt" || body == "amp" || body == "apos" || body == "quot") {
        return length;
    }
    if (body.size() < 2 || body[0] != '#') {
        return 0;
    }
    const bool hex = body[1] == 'x';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty()) {
        return 0;
    }
    unsigned long value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return 0;
        }
        value = std::min(value * (hex ? 16 : 10) + digit, 0x110000UL);  // no wrap-around
    }
    return IsXmlChar(value) ? length : 0;
}

bool StartsAt(std::string_view text, std::size_t i, std::string_view what) {
    return text.substr(i, what.size()) == what;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The position after the tag that starts with the "<" at text[i], or npos when it is broken.
std::size_t SkipTag(std::string_view text, std::size_t i) {
    for (std::size_t j = i + 1; j < text.size(); ++j) {
        const char c = text[j];
        if (c == '>') {
            return j + 1;
        }
        if (c == '<') {
            return std::string_view::npos;
        }
        if (c != '"' && c != '\'') {
            continue;
        }
        std::size_t k = j + 1;
        while (k < text.size() && text[k] != c) {
            if (text[k] == '<') {
                return std::string_view::npos;
            }
            if (text[k] == '&') {
                const std::size_t n = ReferenceLength(text, k);
                if (n == 0) {
                    return std::string_view::npos;
                }
                k += n;
            } else {
                ++k;
            }
        }
        if (k + 1 >= text.size() ||
            !(IsSpace(text[k + 1]) || text[k + 1] == '/' || text[k + 1] == '>')) {
            return std::string_view::npos;
        }
        j = k;
    }
    return std::string_view::npos;
}

// The position after the declaration (a doctype) that starts with "<!" at text[i], or npos.
std::size_t SkipDeclaration(std::string_view text, std::size_t i) {
    int depth = 0;
    for (std::size_t j = i + 2; j < text.size(); ++j) {
        const char c = text[j];
        if (c == '"' || c == '\'') {
            j = text.find(c, j + 1);
            if (j == std::string_view::npos) {
                return j;
            }
        } else if (StartsAt(text, j, "<!--")) {
            j = text.find("-->", j + 4);
            if (j == std::string_view::npos) {
                return j;
            }
            j += 2;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        } else if (c == '>' && depth <= 0) {
            return j + 1;
        }
    }
    return std::string_view::npos;
}

// Which UTF-16 or UTF-32 form the bytes are in (by their byte order mark, or by how "<" is
// spelt, as the parser itself tells them apart): unit size 0 when neither.
struct WideForm {
    std::size_t unit = 0;
    bool bigEndian = false;
    std::size_t bom = 0;
};

WideForm DetectWideForm(const unsigned char* d, std::size_t size) {
    auto at = [&](std::size_t i) -> int { return i < size ? d[i] : -1; };
    if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) return {4, true, 4};
    if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) return {4, false, 4};
    if (at(0) == 0xFE && at(1) == 0xFF) return {2, true, 2};
    if (at(0) == 0xFF && at(1) == 0xFE) return {2, false, 2};
    if (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) == 0x3C) return {4, true, 0};
    if (at(0) == 0x3C && at(1) == 0 && at(2) == 0 && at(3) == 0) return {4, false, 0};
    if (at(0) == 0 && at(1) == 0x3C) return {2, true, 0};
    if (at(0) == 0x3C && at(1) == 0) return {2, false, 0};
    return {};
}

void AppendUtf8(std::string& out, unsigned long c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 or UTF-32 text as UTF-8; false for a broken unit or surrogate.
bool WideToUtf8(const unsigned char* d, std::size_t size, const WideForm& form, std::string& out) {
    if ((size - form.bom) % form.unit != 0) {
        return false;
    }
    auto unitAt = [&](std::size_t i) {
        unsigned long v = 0;
        for (std::size_t k = 0; k < form.unit; ++k) {
            const unsigned long byte = d[i + (form.bigEndian ? k : form.unit - 1 - k)];
            v = (v << 8) | byte;
        }
        return v;
    };
    out.reserve(size);
    for (std::size_t i = form.bom; i < size; i += form.unit) {
        unsigned long c = unitAt(i);
        if (form.unit == 2 && c >= 0xD800 && c <= 0xDBFF && i + 2 < size) {
            const unsigned long low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            return false;
        }
        AppendUtf8(out, c);
    }
    return true;
}

}  // namespace

bool IsWellFormedText(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
        // U+FFFE and U+FFFF
        if (c == 0xEF && StartsAt(text, i + 1, "\xBF") &&
            (StartsAt(text, i + 2, "\xBE") || StartsAt(text, i + 2, "\xBF"))) {
            return false;
        }
    }
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        std::size_t next = i + 1;
        if (c == '&') {
            const std::size_t n = ReferenceLength(text, i);
            if (n == 0) {
                return false;
            }
            next = i + n;
        } else if (c == ']' && StartsAt(text, i, "]]>")) {
            return false;
        } else if (c != '<') {
            // plain text
        } else if (StartsAt(text, i, "<!--")) {
            const std::size_t end = text.find("-->", i + 4);
            if (end == std::string_view::npos) {
                return false;
            }
            const std::string_view body = text.substr(i + 4, end - i - 4);
            if (body.find("--") != std::string_view::npos ||
                (!body.empty() && body.back() == '-')) {
                return false;
            }
            next = end + 3;
        } else if (StartsAt(text, i, "<![CDATA[")) {
            next = text.find("]]>", i + 9);
            if (next == std::string_view::npos) {
                return false;
            }
            next += 3;
        } else if (StartsAt(text, i, "<?")) {
            next = text.find("?>", i + 2);
            if (next == std::string_view::npos) {
                return false;
            }
            next += 2;
        } else if (StartsAt(text, i, "<!")) {
            next = SkipDeclaration(text, i);
        } else {
            next = SkipTag(text, i);
        }
        if (next == std::string_view::npos) {
            return false;
        }
        i = next;
    }
    return true;
}

bool ParseDocument(pugi::xml_document& doc, const void* data, std::size_t size,
                   pugi::xml_encoding encoding) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string converted;
    if (encoding == pugi::encoding_auto) {
        const WideForm wide = DetectWideForm(bytes, size);
        if (wide.unit != 0) {
            if (!WideToUtf8(bytes, size, wide, converted)) {
                doc.reset();
                return false;
            }
            bytes = reinterpret_cast<const unsigned char*>(converted.data());
            size = converted.size();
            encoding = pugi::encoding_utf8;
        }
    }
    std::string_view text(reinterpret_cast<const char*>(bytes), size);
    if (StartsAt(text, 0, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (!IsWellFormedText(text)) {
        doc.reset();
        return false;
    }
    const pugi::xml_parse_result result = doc.load_buffer(bytes, size, kParseOptions, encoding);
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
