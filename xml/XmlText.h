// Parser settings and text helpers that the Tavix classes share (internal to the wrapper).
#pragma once

#include <cstddef>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "xml/CXmlNode.h"

namespace Tavix::detail {

// Everything a DOM keeps (declaration, comments, processing instructions, doctype); whitespace-only
// text between elements is dropped and nothing is validated.
// Parsed as a fragment so that text beside the document element is seen and can be refused.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration |
                                   pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype |
                                   pugi::parse_fragment;

// A handle to a null node: what every lookup hands out for "not found" and "failed". Empty only
// when not even that could be allocated.
CXmlNodePtr NullNode();

// Serialized markup as it is handed to a writer, with every carriage return written as "&#13;".
// The parser turns a carriage return in markup into a line feed, so one that came from a character
// reference in text must go out as a reference again for the markup to read back the same.
void AppendMarkup(std::string& out, const void* data, std::size_t size);

// Invalid UTF-8 sequences become U+FFFD, as a code-page conversion would make them.
std::string ToValidUtf8(std::string_view text);

// An XML element name: a name start character, then name characters. Non-ASCII characters are
// taken as letters.
bool IsXmlName(std::string_view name);

// Whether text (UTF-8, or another encoding that spells markup in ASCII) holds only characters XML
// allows, every "&" starts a predefined entity or a reference to an allowed character, no "<"
// stands in an attribute value, attributes are apart, comments hold no "--" and text no "]]>".
// pugixml lets all of these through; a DOM parser refuses them. Entities declared in a doctype
// are not known here and are refused too.
bool IsWellFormedText(std::string_view text);

// Parses into doc and insists on what the parser itself lets through: well-formed text (above),
// one document element, no text beside it, the declaration first, the doctype before the element,
// no attribute twice on an element. On any failure doc is left empty.
bool ParseDocument(pugi::xml_document& doc, const void* data, std::size_t size,
                   pugi::xml_encoding encoding);

// Compact markup of a node (or an attribute as name="value").
std::string Serialize(const pugi::xpath_node& node);

// The text of a node with its descendants, as the DOM's text property gives it.
std::string TextOf(const pugi::xpath_node& node);

}  // namespace Tavix::detail
