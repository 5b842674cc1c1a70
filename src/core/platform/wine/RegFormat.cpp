#include "core/platform/wine/RegFormat.h"

#include <array>
#include <cstdio>

#include "core/platform/Platform.h"
#include "core/platform/Utf.h"

namespace corvane::wine {

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
    if (c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

// Whether hex data goes on after `line`: it ends in a backslash before its line end
// ("\n" or "\r\n"), as the hex reader below takes it.
bool LineContinues(std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line.ends_with('\\');
}

// Reads "name"= or @= at the start of an entry; gives the offset of the data.
bool ParseValueStart(std::string_view entry, std::u16string& name, std::size_t& dataPos) {
    if (entry.starts_with("@=")) {
        name.clear();
        dataPos = 2;
        return true;
    }
    if (entry.empty() || entry[0] != '"') return false;
    const long len = UnescapeText(entry.substr(1), '"', name);
    if (len < 0) return false;
    std::size_t pos = 1 + static_cast<std::size_t>(len) + 1;
    if (pos >= entry.size() || entry[pos] != '=') return false;
    dataPos = pos + 1;
    return true;
}

// Reads "(N):" after "str" or "hex"; gives the type and moves past the colon.
bool ParseTypeSuffix(std::string_view s, std::size_t& pos, std::uint32_t& type) {
    if (pos >= s.size() || s[pos] != '(') return false;
    ++pos;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (pos < s.size() && IsHexDigit(s[pos])) {
        value = value * 16 + HexValue(s[pos++]);
        if (++digits > 8) return false;
    }
    if (digits == 0 || pos + 1 >= s.size() || s[pos] != ')' || s[pos + 1] != ':') return false;
    pos += 2;
    type = static_cast<std::uint32_t>(value);
    return true;
}

bool ParseHexData(std::string_view s, std::size_t pos, std::vector<std::uint8_t>& out) {
    auto skipBlanks = [&] {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
            ++pos;
    };
    for (;;) {
        skipBlanks();
        if (pos < s.size() && s[pos] == '\\') {
            // The data goes on on the next line.
            ++pos;
            if (pos < s.size() && s[pos] == '\r') ++pos;
            if (pos >= s.size() || s[pos] != '\n') return false;
            ++pos;
            continue;
        }
        if (pos >= s.size() || s[pos] == '\r' || s[pos] == '\n') break;
        if (!IsHexDigit(s[pos])) return false;
        unsigned value = HexValue(s[pos++]);
        if (pos < s.size() && IsHexDigit(s[pos])) value = value * 16 + HexValue(s[pos++]);
        if (pos < s.size() && IsHexDigit(s[pos])) return false;
        out.push_back(static_cast<std::uint8_t>(value));
        skipBlanks();
        if (pos < s.size() && s[pos] == ',') ++pos;
    }
    // Only line ends may follow.
    while (pos < s.size() && (s[pos] == '\r' || s[pos] == '\n'))
        ++pos;
    return pos == s.size();
}

void AppendStringData(std::u16string& text, std::vector<std::uint8_t>& out) {
    out = Utf16ToBytes(text);
}

} // namespace

namespace {

// Bytes that stand for themselves in escaped text, before the end character is
// looked for: ASCII but the backslash and the line end and NUL that end the text.
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 1; c < 0x80; ++c)
        plain[c] = c != '\\' && c != '\n';
    return plain;
}();

// The length of the run of plain bytes at src[i], `endChar` not included.
std::size_t PlainRun(std::string_view src, std::size_t i, int endChar) {
    std::size_t j = i;
    while (j < src.size() && kPlain[static_cast<unsigned char>(src[j])] && src[j] != endChar)
        ++j;
    return j - i;
}

// Appends the bytes of a plain run, one unit each.
void AppendPlain(std::string_view run, std::u16string& out) {
    const std::size_t at = out.size();
    out.resize(at + run.size());
    char16_t* dst = out.data() + at;
    for (char c : run)
        *dst++ = static_cast<char16_t>(c);
}

// Reads the character at src[i] (neither the end nor a line end or NUL): an escape
// sequence, a UTF-8 sequence or a byte that stands for itself. Moves `i` past it;
// false when a backslash ends the text.
bool ReadChar(std::string_view src, std::size_t& i, char32_t& cp) {
    const std::size_t n = src.size();
    if (src[i] == '\\') {
        if (++i >= n) return false;
        switch (src[i]) {
        case 'a':
            cp = u'\a', ++i;
            return true;
        case 'b':
            cp = u'\b', ++i;
            return true;
        case 'e':
            cp = 0x1B, ++i;
            return true;
        case 'f':
            cp = u'\f', ++i;
            return true;
        case 'n':
            cp = u'\n', ++i;
            return true;
        case 'r':
            cp = u'\r', ++i;
            return true;
        case 't':
            cp = u'\t', ++i;
            return true;
        case 'v':
            cp = u'\v', ++i;
            return true;
        case 'x': {
            ++i;
            if (i >= n || !IsHexDigit(src[i])) {
                cp = u'x';
                return true;
            }
            unsigned value = 0;
            for (int k = 0; k < 4 && i < n && IsHexDigit(src[i]); ++k)
                value = value * 16 + HexValue(src[i++]);
            cp = value;
            return true;
        }
        default:
            if (src[i] >= '0' && src[i] <= '7') {
                unsigned value = 0;
                for (int k = 0; k < 3 && i < n && src[i] >= '0' && src[i] <= '7'; ++k)
                    value = value * 8 + static_cast<unsigned>(src[i++] - '0');
                cp = value;
                return true;
            }
            // Any other escaped character stands for itself.
            break;
        }
    }
    // Bytes of 0x80 and above are UTF-8; one that starts no valid sequence stands
    // for itself.
    const std::size_t len = DecodeUtf8At(src, i, cp);
    if (len == 0) {
        cp = static_cast<unsigned char>(src[i]);
        ++i;
    } else {
        i += len;
    }
    return true;
}

// UnescapeText appending to `out`; an `endChar` of -1 reads to the end of `src`.
long Unescape(std::string_view src, int endChar, std::u16string& out) {
    const std::size_t n = src.size();
    std::size_t i = 0;
    char32_t cp;
    while (i < n) {
        if (const std::size_t run = PlainRun(src, i, endChar)) {
            AppendPlain(src.substr(i, run), out);
            i += run;
            if (i >= n) break;
        }
        const char c = src[i];
        if (static_cast<unsigned char>(c) == endChar) return static_cast<long>(i);
        if (c == '\0' || c == '\n' || !ReadChar(src, i, cp)) return -1;
        AppendUtf16(out, cp);
    }
    return endChar < 0 ? static_cast<long>(n) : -1;
}

} // namespace

long UnescapeText(std::string_view src, char endChar, std::u16string& out) {
    out.clear();
    return Unescape(src, static_cast<unsigned char>(endChar), out);
}

void EscapeText(std::u16string_view text, const char quote[2], std::string& out) {
    static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
    char buf[16];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool hasNext = i + 1 < text.size();
        if (c > 127) {
            const char16_t next = hasNext ? text[i + 1] : 0;
            const bool nextIsHex = hasNext && next < 128 && IsHexDigit(static_cast<char>(next));
            std::snprintf(buf, sizeof buf, nextIsHex ? "\\x%04x" : "\\x%x", unsigned(c));
            out += buf;
            continue;
        }
        if (c < 32) {
            if (kEscapes[c] != '.') {
                out.push_back('\\');
                out.push_back(kEscapes[c]);
            } else {
                const bool nextIsOctal = hasNext && text[i + 1] >= '0' && text[i + 1] <= '7';
                std::snprintf(buf, sizeof buf, nextIsOctal ? "\\%03o" : "\\%o", unsigned(c));
                out += buf;
            }
            continue;
        }
        if (c == '\\' || c == quote[0] || c == quote[1]) out.push_back('\\');
        out.push_back(static_cast<char>(c));
    }
}

bool SplitKeyLine(std::string_view line, std::vector<std::string_view>& parts) {
    parts.clear();
    if (line.empty() || line[0] != '[') return false;
    const std::string_view src = line.substr(1);
    const std::size_t n = src.size();
    std::size_t start = 0, i = 0;
    char32_t cp;
    while (i < n) {
        i += PlainRun(src, i, ']');
        if (i >= n) break;
        const char c = src[i];
        const std::size_t at = i;
        if (c != ']') {
            if (c == '\0' || c == '\n' || !ReadChar(src, i, cp)) return false;
            // Whatever way a backslash is written, it parts two names.
            if (cp != u'\\') continue;
        }
        if (at > start) parts.push_back(src.substr(start, at - start));
        if (c == ']') return true;
        start = i;
    }
    return false;
}

void UnescapeName(std::string_view part, std::u16string& name) {
    name.clear();
    Unescape(part, -1, name);
}

bool ParseKeyLine(std::string_view line, std::vector<std::u16string>& names) {
    names.clear();
    std::vector<std::string_view> parts;
    if (!SplitKeyLine(line, parts)) return false;
    for (std::string_view part : parts)
        UnescapeName(part, names.emplace_back());
    return true;
}

void FormatKeyLine(const std::vector<std::u16string_view>& names, std::uint32_t unixTime,
                   std::string& out) {
    out.push_back('[');
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += "\\\\";
        EscapeText(names[i], "[]", out);
    }
    out += "] ";
    out += std::to_string(unixTime);
    out.push_back('\n');
}

std::size_t ValueEntryLength(std::string_view text) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return text.size();
    std::u16string name;
    std::size_t dataPos = 0;
    if (!ParseValueStart(text.substr(0, end), name, dataPos) ||
        text.compare(dataPos, 3, "hex") != 0)
        return end + 1;
    // Hex data goes on over lines that end in a backslash.
    std::size_t lineStart = 0;
    while (LineContinues(text.substr(lineStart, end + 1 - lineStart))) {
        const std::size_t next = text.find('\n', end + 1);
        if (next == std::string_view::npos) return text.size();
        lineStart = end + 1;
        end = next;
    }
    return end + 1;
}

bool EndsContinued(std::string_view entry) {
    std::u16string name;
    std::size_t dataPos = 0;
    if (!ParseValueStart(entry.substr(0, entry.find('\n')), name, dataPos) ||
        entry.compare(dataPos, 3, "hex") != 0)
        return false;
    std::string_view data = entry.substr(dataPos);
    if (data.ends_with('\n')) data.remove_suffix(1);
    const std::size_t lastLine = data.rfind('\n');
    return data.find('\\', lastLine == std::string_view::npos ? 0 : lastLine + 1) !=
           std::string_view::npos;
}

bool ParseValueName(std::string_view entry, std::u16string& name) {
    std::size_t dataPos = 0;
    return ParseValueStart(entry, name, dataPos);
}

bool ParseValue(std::string_view entry, RegValue& out) {
    std::size_t pos = 0;
    if (!ParseValueStart(entry, out.name, pos)) return false;
    out.data.clear();
    const std::string_view s = entry;
    std::u16string text;
    if (s.compare(pos, 1, "\"") == 0 || s.compare(pos, 4, "str(") == 0) {
        out.type = RegType::Sz;
        if (s[pos] == 's') {
            pos += 3;
            if (!ParseTypeSuffix(s, pos, out.type)) return false;
            if (s.compare(pos, 1, "\"") != 0) return false;
        }
        if (UnescapeText(s.substr(pos + 1), '"', text) < 0) return false;
        AppendStringData(text, out.data);
        return true;
    }
    if (s.compare(pos, 6, "dword:") == 0) {
        pos += 6;
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (pos < s.size() && IsHexDigit(s[pos])) {
            value = value * 16 + HexValue(s[pos++]);
            if (++digits > 8) return false;
        }
        if (digits == 0) return false;
        for (; pos < s.size(); ++pos)
            if (s[pos] != ' ' && s[pos] != '\t' && s[pos] != '\r' && s[pos] != '\n') return false;
        out.type = RegType::Dword;
        out.data = {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
                    std::uint8_t(value >> 24)};
        return true;
    }
    if (s.compare(pos, 3, "hex") == 0) {
        pos += 3;
        if (s.compare(pos, 1, ":") == 0) {
            out.type = RegType::Binary;
            ++pos;
        } else if (!ParseTypeSuffix(s, pos, out.type)) {
            return false;
        }
        return ParseHexData(s, pos, out.data);
    }
    return false;
}

void FormatValue(const RegValue& value, std::string& out) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += "@=";
    } else {
        out.push_back('"');
        EscapeText(value.name, "\"\"", out);
        out += "\"=";
    }
    const auto& data = value.data;
    char buf[24];
    switch (value.type) {
    case RegType::Sz:
    case RegType::ExpandSz:
    case RegType::MultiSz:
        // Only a properly terminated string is written as a string.
        if (data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 2] == 0 &&
            data.back() == 0) {
            if (value.type != RegType::Sz) {
                std::snprintf(buf, sizeof buf, "str(%x):", unsigned(value.type));
                out += buf;
            }
            out.push_back('"');
            const std::u16string text = Utf16FromBytes(std::span(data.data(), data.size() - 2));
            EscapeText(text, "\"\"", out);
            out += "\"\n";
            return;
        }
        break;
    case RegType::Dword:
        if (data.size() == 4) {
            const std::uint32_t dw = LittleEndian32(std::span<const std::uint8_t>(data).first<4>());
            std::snprintf(buf, sizeof buf, "dword:%08x\n", unsigned(dw));
            out += buf;
            return;
        }
        break;
    default:
        break;
    }
    if (value.type == RegType::Binary) {
        out += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", unsigned(value.type));
        out += buf;
    }
    // Wine breaks hex data after 76 columns and goes on indented by two.
    std::size_t count = out.size() - lineStart;
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", unsigned(data[i]));
        out += buf;
        count += 2;
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (++count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    out.push_back('\n');
}

void FormatTimeLine(std::uint64_t fileTime, std::string& out) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "#time=%x%08x\n", unsigned(fileTime >> 32),
                  unsigned(fileTime & 0xFFFFFFFFu));
    out += buf;
}

std::uint64_t FileTimeFromUnixNanos(std::int64_t nanos) {
    return static_cast<std::uint64_t>(nanos / 100) + 116444736000000000ULL;
}

} // namespace corvane::wine
