// The XML document component of the rule documents: parse a text, walk its nodes by
// position, read attributes, and build and write a document.
//
// Node model, which the rule document readers rely on: the XML declaration is a
// top-level node (position 0 when the text has one, so the root element is then
// position 1); comments, processing instructions, a DOCTYPE and text that is not only
// whitespace are nodes as well; whitespace-only text between elements is not a node.
// Texts are UTF-8 whatever the declaration names. Nothing here throws or shows
// anything: failures are results.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pugi {
struct xml_node_struct;
class xml_document;
} // namespace pugi

namespace corvane {

// One node of a document; a handle that stays valid while its document lives. A
// default node is the "no node" a failed lookup gives.
class XmlNode {
public:
    XmlNode() = default;

    explicit operator bool() const { return node_ != nullptr; }
    bool isElement() const;
    bool isDeclaration() const;
    std::string name() const;

    // The child nodes as a list: count, and node at a position counted from 0 (no node
    // beyond the count). firstChild/nextSibling walk the same list in order.
    std::size_t childCount() const;
    XmlNode child(std::size_t index) const;
    XmlNode firstChild() const;
    XmlNode nextSibling() const;

    // An attribute's text; nothing when the node has no such attribute (a node that is
    // not an element has none). Present with the empty value reads as the empty text.
    std::optional<std::string> attribute(std::string_view name) const;
    // The same into `out`, which keeps what it held when there is no such attribute.
    bool attributeInto(std::string_view name, std::string& out) const;
    // Several attributes in one pass: the value of `names[i]` into `*out[i]`, and
    // `found[i]` says whether there was one (an `out` of a missing one keeps what it
    // held). The three lists have the same length.
    void attributesInto(std::span<const std::string_view> names, std::span<std::string* const> out,
                        std::span<bool> found) const;
    bool hasAttribute(std::string_view name) const;

    // Building: a new last child element, and a new last attribute. False (and no
    // change) when the text cannot be kept whole in a document (a NUL character).
    XmlNode appendElement(std::string_view name);
    bool setAttribute(std::string_view name, std::string_view value);

private:
    friend class XmlDocument;
    explicit XmlNode(pugi::xml_node_struct* node) : node_(node) {}
    pugi::xml_node_struct* node_ = nullptr;
};

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Replaces the document with the one in `text`, read as UTF-8. False when the text
    // is not a well-formed document (then the document is empty). Entities other than
    // the predefined ones and character references are never expanded, and nothing
    // outside the text is fetched.
    bool load(std::string_view text);

    // The top-level nodes as a list.
    std::size_t topCount() const;
    XmlNode top(std::size_t index) const;
    XmlNode firstTop() const;

    // Building: sets the declaration's version and encoding, putting it in front of
    // everything else; adds a top-level element.
    void setDeclaration(std::string_view version, std::string_view encoding);
    XmlNode appendElement(std::string_view name);

    // The whole document as text, declaration first. Every character is kept as it is
    // (UTF-8), whatever encoding the declaration names.
    std::string save() const;

private:
    std::unique_ptr<pugi::xml_document> doc_;
};

} // namespace corvane
