#include "core/store/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iconv.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/platform/Utf.h"

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

bool SameName(std::string_view a, std::string_view b) {
    const auto ua = Utf8ToUtf16(a);
    const auto ub = Utf8ToUtf16(b);
    if (ua && ub) return EqualsNoCase(*ua, *ub);
    return a == b;
}

std::string FromGbk(const std::string& bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(bytes.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (::iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) break; // cannot happen: room for three bytes each
        // A byte GBK does not know: U+FFFD marks it, nothing is dropped silently.
        if (outLeft < 3) break;
        std::memcpy(dst, "\xEF\xBF\xBD", 3);
        dst += 3, outLeft -= 3;
        ++in, --inLeft;
    }
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
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
}

std::vector<IniDocument::Range> IniDocument::sectionRanges(std::string_view section) const {
    std::vector<Range> ranges;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Line::Kind::Section || !SameName(lines_[i].name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && lines_[end].kind != Line::Kind::Section)
            ++end;
        ranges.push_back({i + 1, end});
    }
    return ranges;
}

std::string IniDocument::read(std::string_view section, std::string_view key,
                              IniLookup lookup) const {
    return find(section, key, lookup).value_or(std::string());
}

std::optional<std::string> IniDocument::find(std::string_view section, std::string_view key,
                                             IniLookup lookup) const {
    const auto ranges = sectionRanges(section);
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
    for (const Line& line : lines_) {
        if (line.kind != Line::Kind::Section) continue;
        bool seen = false;
        for (const auto& name : names)
            seen = seen || SameName(name, line.name);
        if (!seen) names.push_back(line.name);
    }
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
    const auto ranges = sectionRanges(section);
    if (ranges.empty()) return names;
    const Range range = lookup == IniLookup::First ? ranges.front() : ranges.back();
    for (std::size_t i = range.begin; i < range.end; ++i) {
        const Line& line = lines_[i];
        if (line.kind != Line::Kind::Key) continue;
        bool seen = false;
        for (const auto& name : names)
            seen = seen || SameName(name, line.name);
        if (!seen) names.push_back(line.name);
    }
    return names;
}

void IniDocument::write(std::string_view section, std::string_view key, std::string_view value) {
    const std::string text = std::string(key) + "=" + std::string(value);
    const auto ranges = sectionRanges(section);
    if (ranges.empty()) {
        if (!lines_.empty() && !lines_.back().text.empty()) lines_.push_back(ParseLine(""));
        lines_.push_back(ParseLine("[" + std::string(section) + "]"));
        lines_.push_back(ParseLine(text));
        finalEol_ = true;
        return;
    }
    const Range range = ranges.front();
    for (std::size_t i = range.begin; i < range.end; ++i) {
        if (lines_[i].kind == Line::Kind::Key && SameName(lines_[i].name, key)) {
            lines_[i] = ParseLine(text);
            return;
        }
    }
    // After the section's last line that is not blank.
    std::size_t at = range.end;
    while (at > range.begin && Trim(lines_[at - 1].text).empty())
        --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), ParseLine(text));
    if (at == lines_.size() - 1) finalEol_ = true;
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
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::ostringstream buffer;
    buffer << in.rdbuf();
    std::string bytes = buffer.str();
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    if (Utf8ToUtf16(bytes)) return bytes;
    return FromGbk(bytes);
}

bool IniWriteString(const std::filesystem::path& file, std::string_view section,
                    std::string_view key, std::string_view value) {
    IniDocument doc(ReadTextFile(file));
    doc.write(section, key, value);
    const std::string text = doc.text();
    const std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : ".";
    std::string tmpl = (dir / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fchmod(fd, ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644) == 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmpl.c_str(), file.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}

} // namespace corvane
