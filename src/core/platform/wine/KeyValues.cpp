#include "core/platform/wine/KeyValues.h"

#include <cctype>

namespace corvane::wine {

namespace {

constexpr int kMaxDepth = 100;

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    // Reads entries up to the closing brace (inside a block) or the end of the text.
    bool entries(KeyValue& into, int depth) {
        if (depth > kMaxDepth) return fail("blocks nested too deeply");
        for (;;) {
            Token key;
            if (!next(key)) return false;
            if (key.kind == Token::End)
                return depth == 0 || fail("block not closed at the end of the text");
            if (key.kind == Token::Close) return depth > 0 || fail("'}' without a block");
            if (key.kind != Token::Text) return fail("a block without a key");
            KeyValue entry;
            entry.key = std::move(key.text);
            Token value;
            if (!next(value)) return false;
            if (value.kind == Token::Open) {
                entry.block = true;
                if (!entries(entry, depth + 1)) return false;
            } else if (value.kind == Token::Text) {
                entry.value = std::move(value.text);
            } else {
                return fail("\"" + entry.key + "\" has no value");
            }
            into.entries.push_back(std::move(entry));
        }
    }

    std::string error;

private:
    struct Token {
        enum Kind { Text, Open, Close, End } kind = End;
        std::string text;
    };

    bool fail(const std::string& what) {
        error = "line " + std::to_string(line_) + ": " + what;
        return false;
    }

    // Skips blanks, comments and "[$CONDITION]" marks.
    void skip() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    ++pos_;
            } else if (c == '[') {
                while (pos_ < text_.size() && text_[pos_] != ']' && text_[pos_] != '\n')
                    ++pos_;
                if (pos_ < text_.size() && text_[pos_] == ']') ++pos_;
            } else {
                return;
            }
        }
    }

    bool next(Token& token) {
        skip();
        token.text.clear();
        if (pos_ >= text_.size()) {
            token.kind = Token::End;
            return true;
        }
        const char c = text_[pos_];
        if (c == '{' || c == '}') {
            token.kind = c == '{' ? Token::Open : Token::Close;
            ++pos_;
            return true;
        }
        token.kind = Token::Text;
        if (c != '"') {
            while (pos_ < text_.size()) {
                const char b = text_[pos_];
                if (std::isspace(static_cast<unsigned char>(b)) || b == '{' || b == '}' || b == '"')
                    break;
                token.text += b;
                ++pos_;
            }
            return true;
        }
        const int startLine = line_;
        for (++pos_; pos_ < text_.size(); ++pos_) {
            char b = text_[pos_];
            if (b == '"') {
                ++pos_;
                return true;
            }
            if (b == '\n') ++line_;
            if (b == '\\' && pos_ + 1 < text_.size()) {
                const char e = text_[pos_ + 1];
                const std::string_view known = "nt\\\"";
                if (known.find(e) != std::string_view::npos) {
                    b = e == 'n' ? '\n' : e == 't' ? '\t' : e;
                    ++pos_;
                }
            }
            token.text += b;
        }
        line_ = startLine;
        return fail("unclosed quote");
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

} // namespace

const KeyValue* KeyValue::find(std::string_view name) const {
    for (const KeyValue& entry : entries)
        if (SameNoCase(entry.key, name)) return &entry;
    return nullptr;
}

std::string KeyValue::text(std::string_view name) const {
    const KeyValue* entry = find(name);
    return entry && !entry->block ? entry->value : std::string();
}

std::optional<KeyValue> ReadKeyValues(std::string_view text, std::string& error) {
    Reader reader(text);
    KeyValue root;
    root.block = true;
    if (!reader.entries(root, 0)) {
        error = reader.error;
        return std::nullopt;
    }
    return root;
}

} // namespace corvane::wine
