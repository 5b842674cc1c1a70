#include "core/store/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iconv.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "core/platform/Utf.h"
#include "core/store/TempFiles.h"

namespace corvane {

namespace {

std::string Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = s.size();
    while (b < e && blank(s[b]))
        ++b;
    while (e > b && blank(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

// Trims blanks and every other control character, as the group text is read.
std::string TrimControls(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32)
        --e;
    return std::string(s.substr(b, e - b));
}

// A name as SameName compares it: UTF-16 units folded, or the bytes of a name that is
// not UTF-8 (marked apart so that the two never meet).
std::string FoldedName(std::string_view name) {
    const auto units = Utf8ToUtf16(name);
    if (!units) return "\x01" + std::string(name);
    std::u16string folded;
    folded.reserve(units->size());
    for (char16_t c : *units)
        folded.push_back(FoldCase(c));
    return "\x02" + Utf16ToUtf8(folded);
}

bool SameName(std::string_view a, std::string_view b) {
    const auto ua = Utf8ToUtf16(a);
    const auto ub = Utf8ToUtf16(b);
    if (ua && ub) return EqualsNoCase(*ua, *ub);
    return a == b;
}

std::string FromGbk(std::string_view bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buf[4096];
    while (inLeft > 0) {
        char* dst = buf;
        std::size_t outLeft = sizeof buf;
        const std::size_t r = ::iconv(cd, &in, &inLeft, &dst, &outLeft);
        const int error = errno;
        out.append(buf, sizeof buf - outLeft);
        if (r != static_cast<std::size_t>(-1) || (error == E2BIG && dst != buf)) continue;
        // A byte GBK does not know: U+FFFD marks it, nothing is dropped silently.
        out += "\xEF\xBF\xBD";
        ++in, --inLeft;
    }
    ::iconv_close(cd);
    return out;
}

// UTF-8 text as GBK; nullopt when a character has no GBK form.
std::optional<std::string> ToGbk(std::string_view text) {
    iconv_t cd = ::iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(text.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const bool ok = ::iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

enum class Encoding { Utf8, Gbk, Utf16Le, Utf16Be };

bool ReadBytes(const std::filesystem::path& file, std::string& bytes) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    bytes = buffer.str();
    return !in.bad();
}

Encoding EncodingOf(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) return Encoding::Utf16Le;
    if (bytes.starts_with("\xFE\xFF")) return Encoding::Utf16Be;
    // A file that declares UTF-8 is UTF-8, whatever bytes it holds.
    if (bytes.starts_with("\xEF\xBB\xBF")) return Encoding::Utf8;
    return Utf8ToUtf16(bytes) ? Encoding::Utf8 : Encoding::Gbk;
}

// The UTF-16 text after the byte-order mark as UTF-8 (an odd last byte is kept aside).
std::string FromUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
    }
    return Utf16ToUtf8(units);
}

std::string ToUtf16(std::string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : Utf8ToUtf16(text).value_or(std::u16string())) {
        const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

// Puts `key=value` into `text` (UTF-8, or GBK when `gbk`) changing no other line.
std::optional<std::string> SpliceKey(std::string_view text, bool gbk, std::string_view section,
                                     std::string_view key, std::string_view value) {
    // Lines end at LF (GBK never uses that byte inside a character); each keeps its end.
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find('\n', pos);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(pos, next - pos));
        pos = next;
    }
    std::string decoded;
    for (std::string_view line : lines)
        decoded += gbk ? FromGbk(line) : std::string(line);
    // A byte-order mark is no part of the first line's text.
    if (decoded.starts_with("\xEF\xBB\xBF")) decoded.erase(0, 3);
    const IniDocument doc(decoded);
    const IniDocument::Placement at = doc.placement(section, key);
    const std::string_view eol = !lines.empty() && lines.front().ends_with("\r\n") ? "\r\n" : "\n";
    std::string added = std::string(key) + "=" + std::string(value);
    if (at.newSection) added = "[" + std::string(section) + "]" + std::string(eol) + added;
    if (gbk) {
        auto encoded = ToGbk(added);
        if (!encoded) return std::nullopt;
        added = std::move(*encoded);
    }
    std::string out;
    // Where a line's end (LF or CR LF) begins.
    const auto endAt = [](std::string_view line) {
        return line.ends_with("\r\n") ? line.size() - 2
               : line.ends_with('\n') ? line.size() - 1
                                      : line.size();
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!at.newSection && i == at.line) {
            if (at.replace) {
                // The line keeps its own end.
                out += added;
                out += lines[i].substr(endAt(lines[i]));
                continue;
            }
            out += added;
            out += eol;
        }
        out += lines[i];
    }
    if (at.newSection || at.line >= lines.size()) {
        if (!out.empty() && !out.ends_with('\n')) out += eol;
        if (at.newSection && !lines.empty() && endAt(lines.back()) > 0) out += eol;
        out += added;
        out += eol;
    }
    return out;
}

} // namespace

IniDocument::Line IniDocument::ParseLine(std::string text) const {
    Line line;
    const std::string trimmed = syntax_ == IniSyntax::Profile ? Trim(text) : TrimControls(text);
    if (syntax_ == IniSyntax::GroupText) {
        // A section line begins with "[" and ends with "]"; a key line holds "=".
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            line.kind = Line::Kind::Section;
            line.name = TrimControls(std::string_view(trimmed).substr(1, trimmed.size() - 2));
        } else if (!trimmed.empty() && trimmed.front() != ';') {
            const std::size_t eq = trimmed.find('=');
            if (eq != std::string::npos) {
                line.kind = Line::Kind::Key;
                line.name = TrimControls(std::string_view(trimmed).substr(0, eq));
                line.value = TrimControls(std::string_view(trimmed).substr(eq + 1));
            }
        }
    } else if (trimmed.size() >= 2 && trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        if (close != std::string::npos) {
            line.kind = Line::Kind::Section;
            line.name = Trim(std::string_view(trimmed).substr(1, close - 1));
        }
    } else if (!trimmed.empty() && trimmed.front() != ';') {
        const std::size_t eq = trimmed.find('=');
        if (eq != std::string::npos && eq > 0) {
            line.kind = Line::Kind::Key;
            line.name = Trim(std::string_view(trimmed).substr(0, eq));
            line.value = Trim(std::string_view(trimmed).substr(eq + 1));
            // A value in quotes is read without them.
            if (line.value.size() >= 2 &&
                ((line.value.front() == '"' && line.value.back() == '"') ||
                 (line.value.front() == '\'' && line.value.back() == '\'')))
                line.value = line.value.substr(1, line.value.size() - 2);
        }
    }
    line.text = std::move(text);
    return line;
}

IniDocument::IniDocument(std::string_view text, IniSyntax syntax) : syntax_(syntax) {
    if (text.find("\r\n") != std::string_view::npos) eol_ = "\r\n";
    finalEol_ = text.empty() || text.back() == '\n';
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Lines end at LF or CR LF; the group text also ends a line at a lone CR.
        const std::size_t end =
            text.find_first_of(syntax == IniSyntax::GroupText ? "\r\n" : "\n", pos);
        std::string_view raw =
            text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
        if (syntax == IniSyntax::Profile && !raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        lines_.push_back(ParseLine(std::string(raw)));
        if (end == std::string_view::npos) break;
        pos = end + 1;
        if (syntax == IniSyntax::GroupText && text[end] == '\r' && pos < text.size() &&
            text[pos] == '\n')
            ++pos;
    }
    index();
}

void IniDocument::index() {
    sections_.clear();
    std::vector<Range>* open = nullptr;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Line::Kind::Section) continue;
        if (open) open->back().end = i;
        open = &sections_[FoldedName(lines_[i].name)];
        open->push_back({i + 1, lines_.size()});
    }
}

const std::vector<IniDocument::Range>& IniDocument::sectionRanges(std::string_view section) const {
    static const std::vector<Range> kNone;
    const auto found = sections_.find(FoldedName(section));
    return found == sections_.end() ? kNone : found->second;
}

std::string IniDocument::read(std::string_view section, std::string_view key,
                              IniLookup lookup) const {
    return find(section, key, lookup).value_or(std::string());
}

std::optional<std::string> IniDocument::find(std::string_view section, std::string_view key,
                                             IniLookup lookup) const {
    const auto& ranges = sectionRanges(section);
    if (ranges.empty()) return std::nullopt;
    const Range range = lookup == IniLookup::First ? ranges.front() : ranges.back();
    const Line* found = nullptr;
    for (std::size_t i = range.begin; i < range.end; ++i) {
        const Line& line = lines_[i];
        if (line.kind == Line::Kind::Key && SameName(line.name, key)) {
            found = &line;
            if (lookup == IniLookup::First) break;
        }
    }
    if (!found) return std::nullopt;
    return found->value;
}

std::vector<std::string> IniDocument::sections() const {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const Line& line : lines_)
        if (line.kind == Line::Kind::Section && seen.insert(FoldedName(line.name)).second)
            names.push_back(line.name);
    return names;
}

std::vector<std::string> IniDocument::sectionLines() const {
    std::vector<std::string> names;
    for (const Line& line : lines_)
        if (line.kind == Line::Kind::Section) names.push_back(line.name);
    return names;
}

std::vector<std::string> IniDocument::keys(std::string_view section, IniLookup lookup) const {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    const auto& ranges = sectionRanges(section);
    if (ranges.empty()) return names;
    const Range range = lookup == IniLookup::First ? ranges.front() : ranges.back();
    for (std::size_t i = range.begin; i < range.end; ++i) {
        const Line& line = lines_[i];
        if (line.kind == Line::Kind::Key && seen.insert(FoldedName(line.name)).second)
            names.push_back(line.name);
    }
    return names;
}

IniDocument::Placement IniDocument::placement(std::string_view section,
                                              std::string_view key) const {
    const auto& ranges = sectionRanges(section);
    if (ranges.empty()) return {lines_.size(), false, true};
    const Range range = ranges.front();
    for (std::size_t i = range.begin; i < range.end; ++i)
        if (lines_[i].kind == Line::Kind::Key && SameName(lines_[i].name, key))
            return {i, true, false};
    // After the section's last line that is not blank.
    std::size_t at = range.end;
    while (at > range.begin && Trim(lines_[at - 1].text).empty())
        --at;
    return {at, false, false};
}

void IniDocument::write(std::string_view section, std::string_view key, std::string_view value) {
    const std::string text = std::string(key) + "=" + std::string(value);
    const Placement at = placement(section, key);
    if (at.newSection) {
        if (!lines_.empty() && !lines_.back().text.empty()) lines_.push_back(ParseLine(""));
        lines_.push_back(ParseLine("[" + std::string(section) + "]"));
        lines_.push_back(ParseLine(text));
        finalEol_ = true;
    } else if (at.replace) {
        lines_[at.line] = ParseLine(text);
    } else {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at.line), ParseLine(text));
        if (at.line == lines_.size() - 1) finalEol_ = true;
    }
    index();
}

std::string IniDocument::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        if (i + 1 < lines_.size() || finalEol_) out += eol_;
    }
    return out;
}

std::string ReadTextFile(const std::filesystem::path& file) {
    std::string bytes;
    if (!ReadBytes(file, bytes)) return {};
    switch (EncodingOf(bytes)) {
    case Encoding::Utf16Le:
        return FromUtf16(bytes, false);
    case Encoding::Utf16Be:
        return FromUtf16(bytes, true);
    case Encoding::Gbk:
        return FromGbk(bytes);
    case Encoding::Utf8:
        break;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    return bytes;
}

bool IniWriteString(const std::filesystem::path& file, std::string_view section,
                    std::string_view key, std::string_view value) {
    std::string bytes;
    std::error_code ec;
    // A file that is there but cannot be read is never replaced.
    if (!ReadBytes(file, bytes) && std::filesystem::exists(file, ec)) return false;
    const Encoding encoding = EncodingOf(bytes);
    const bool utf16 = encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
    // NUL bytes outside UTF-16 are a text this reader does not know: left alone. So is
    // a UTF-16 file with an odd byte at its end.
    if (!utf16 && bytes.find('\0') != std::string::npos) return false;
    if (utf16 && bytes.size() % 2 != 0) return false;
    const std::string text = utf16 ? FromUtf16(bytes, encoding == Encoding::Utf16Be) : bytes;
    auto spliced = SpliceKey(text, encoding == Encoding::Gbk, section, key, value);
    if (!spliced) return false;
    // A key that holds the value already, written as it would be: nothing to write.
    if (*spliced == text && std::filesystem::exists(file, ec)) return true;
    const std::string out =
        utf16 ? ToUtf16(*spliced, encoding == Encoding::Utf16Be) : std::move(*spliced);
    const std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : ".";
    // What killed writes left goes first.
    const std::filesystem::path stem = dir / ("." + file.filename().string() + ".");
    (void)RemoveStaleTemporaries(stem);
    LockedTemporary temp(stem);
    if (!temp.ok()) return false;
    const int fd = temp.fd();
    struct stat st {};
    bool ok = ::fchmod(fd, ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644) == 0;
    std::size_t done = 0;
    while (ok && done < out.size()) {
        const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (ok && ::rename(temp.path().c_str(), file.c_str()) != 0) ok = false;
    if (ok) temp.keep();
    return ok;
}

} // namespace corvane
