#include "core/engine/XmlDocument.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>
#include <vector>

namespace corvane {

namespace {

// Comments, processing instructions, the declaration, a DOCTYPE and CDATA are kept as
// nodes; whitespace-only text is dropped. parse_fragment keeps text that stands at the
// top level, so that the well-formedness checks below can see it. A DOCTYPE is kept
// as it stands: its entity declarations are never read, let alone expanded.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes |
                                   pugi::parse_wconv_attribute | pugi::parse_eol | pugi::parse_pi |
                                   pugi::parse_comments | pugi::parse_declaration |
                                   pugi::parse_doctype | pugi::parse_fragment;

pugi::xml_node Wrap(pugi::xml_node_struct* node) {
    return pugi::xml_node(node);
}

bool SameName(const char* name, std::string_view wanted) {
    return std::strlen(name) == wanted.size() && wanted.compare(name) == 0;
}

pugi::xml_attribute FindAttribute(pugi::xml_node node, std::string_view name) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (SameName(a.name(), name)) return a;
    return {};
}

bool HasDuplicateAttributes(pugi::xml_node element) {
    // The few attributes of a rule are compared pair by pair, without a list.
    constexpr std::size_t kFew = 12;
    const char* few[kFew];
    std::size_t count = 0;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
        if (count == kFew) break;
        for (std::size_t i = 0; i < count; ++i)
            if (std::strcmp(few[i], a.name()) == 0) return true;
        few[count++] = a.name();
    }
    if (count < kFew) return false;
    std::vector<std::string_view> names;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute())
        names.emplace_back(a.name());
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) != names.end();
}

// What the parser lets through but XML does not: text or more than one element at
// the top level, a declaration that is not the first node, the same attribute twice on
// an element. The walk is a loop, so that deep nesting cannot exhaust the stack.
bool WellFormed(const pugi::xml_document& doc) {
    int elements = 0;
    bool first = true;
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
        switch (n.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_declaration:
            if (!first) return false;
            break;
        case pugi::node_doctype:
            if (elements > 0) return false;
            break;
        case pugi::node_comment:
        case pugi::node_pi:
            break;
        default: // text or CDATA outside the root element
            return false;
        }
        first = false;
    }
    if (elements != 1) return false;

    pugi::xml_node root = doc.document_element();
    pugi::xml_node n = root;
    while (n) {
        if (n.type() == pugi::node_element && HasDuplicateAttributes(n)) return false;
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != root && !n.next_sibling())
            n = n.parent();
        if (!n || n == root) break;
        n = n.next_sibling();
    }
    return true;
}

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, size_t size) override {
        out_.append(static_cast<const char*>(data), size);
    }

private:
    std::string& out_;
};

bool Keepable(std::string_view text) {
    return text.find('\0') == std::string_view::npos;
}

} // namespace

// --- XmlNode ------------------------------------------------------------------------

bool XmlNode::isElement() const {
    return Wrap(node_).type() == pugi::node_element;
}

bool XmlNode::isDeclaration() const {
    return Wrap(node_).type() == pugi::node_declaration;
}

std::string XmlNode::name() const {
    return Wrap(node_).name();
}

std::size_t XmlNode::childCount() const {
    std::size_t count = 0;
    for (pugi::xml_node c = Wrap(node_).first_child(); c; c = c.next_sibling())
        ++count;
    return count;
}

XmlNode XmlNode::child(std::size_t index) const {
    pugi::xml_node c = Wrap(node_).first_child();
    for (; c && index > 0; --index)
        c = c.next_sibling();
    return XmlNode(c.internal_object());
}

XmlNode XmlNode::firstChild() const {
    return XmlNode(Wrap(node_).first_child().internal_object());
}

XmlNode XmlNode::nextSibling() const {
    return XmlNode(Wrap(node_).next_sibling().internal_object());
}

std::optional<std::string> XmlNode::attribute(std::string_view name) const {
    if (!isElement()) return std::nullopt;
    pugi::xml_attribute a = FindAttribute(Wrap(node_), name);
    if (!a) return std::nullopt;
    return std::string(a.value());
}

bool XmlNode::attributeInto(std::string_view name, std::string& out) const {
    if (!isElement()) return false;
    pugi::xml_attribute a = FindAttribute(Wrap(node_), name);
    if (!a) return false;
    out.assign(a.value());
    return true;
}

void XmlNode::attributesInto(std::span<const std::string_view> names,
                             std::span<std::string* const> out, std::span<bool> found) const {
    for (bool& f : found)
        f = false;
    if (!isElement()) return;
    for (pugi::xml_attribute a = Wrap(node_).first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name = a.name();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (found[i] || names[i] != name) continue;
            out[i]->assign(a.value());
            found[i] = true;
            break;
        }
    }
}

bool XmlNode::hasAttribute(std::string_view name) const {
    return isElement() && FindAttribute(Wrap(node_), name);
}

XmlNode XmlNode::appendElement(std::string_view name) {
    if (!node_ || name.empty() || !Keepable(name)) return {};
    return XmlNode(Wrap(node_).append_child(std::string(name).c_str()).internal_object());
}

bool XmlNode::setAttribute(std::string_view name, std::string_view value) {
    if (!isElement() || name.empty() || !Keepable(name) || !Keepable(value)) return false;
    pugi::xml_attribute a = Wrap(node_).append_attribute(std::string(name).c_str());
    return a && a.set_value(value.data(), value.size());
}

// --- XmlDocument --------------------------------------------------------------------

XmlDocument::XmlDocument() : doc_(std::make_unique<pugi::xml_document>()) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::load(std::string_view text) {
    // The stored text is UTF-8 whatever its declaration names, so the encoding is
    // given rather than taken from the declaration.
    const pugi::xml_parse_result result =
        doc_->load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
    if (!result || !WellFormed(*doc_)) {
        doc_->reset();
        return false;
    }
    return true;
}

std::size_t XmlDocument::topCount() const {
    std::size_t count = 0;
    for (pugi::xml_node c = doc_->first_child(); c; c = c.next_sibling())
        ++count;
    return count;
}

XmlNode XmlDocument::top(std::size_t index) const {
    pugi::xml_node c = doc_->first_child();
    for (; c && index > 0; --index)
        c = c.next_sibling();
    return XmlNode(c.internal_object());
}

XmlNode XmlDocument::firstTop() const {
    return XmlNode(doc_->first_child().internal_object());
}

void XmlDocument::setDeclaration(std::string_view version, std::string_view encoding) {
    pugi::xml_node decl = doc_->first_child();
    if (decl.type() == pugi::node_declaration) {
        decl.remove_attributes();
    } else {
        decl = doc_->prepend_child(pugi::node_declaration);
    }
    decl.append_attribute("version").set_value(version.data(), version.size());
    decl.append_attribute("encoding").set_value(encoding.data(), encoding.size());
}

XmlNode XmlDocument::appendElement(std::string_view name) {
    if (name.empty() || !Keepable(name)) return {};
    return XmlNode(doc_->append_child(std::string(name).c_str()).internal_object());
}

std::string XmlDocument::save() const {
    std::string text;
    StringWriter writer(text);
    // UTF-8 out, whatever the declaration names: no character can be lost.
    doc_->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return text;
}

} // namespace corvane
