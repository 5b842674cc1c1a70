#include "core/platform/wine/RegHive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "core/platform/Utf.h"

namespace corvane::wine {

namespace {

constexpr std::string_view kRelativeTo = ";; All keys relative to ";
constexpr std::string_view kNewSectionLead = "\n";

bool IsBlankLine(std::string_view line) {
    for (char c : line)
        if (c != '\n' && c != '\r') return false;
    return true;
}

std::string_view LineAt(std::string_view text, std::size_t pos) {
    const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
    const std::size_t end =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1 : text.size();
    return text.substr(pos, end - pos);
}

bool IsOption(std::string_view line, std::string_view option) {
    if (!line.starts_with(option)) return false;
    const std::string_view rest = line.substr(option.size());
    return IsBlankLine(rest);
}

struct Now {
    std::uint32_t unixSeconds;
    std::uint64_t fileTime;
};

Now CurrentTime() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    return {static_cast<std::uint32_t>(nanos / 1000000000), FileTimeFromUnixNanos(nanos)};
}

RegHive::Signature SignatureOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::u16string Folded(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out)
        c = FoldCase(c);
    return out;
}

bool IsInside(const RegNode* node, const RegNode& top) {
    for (; node; node = node->parent)
        if (node == &top) return true;
    return false;
}

} // namespace

RegNode* RegNode::findChild(std::u16string_view childName) const {
    auto it = std::lower_bound(children.begin(), children.end(), childName,
                               [](const RegNode* n, std::u16string_view name) {
                                   return CompareNoCase(n->name, name) < 0;
                               });
    if (it != children.end() && CompareNoCase((*it)->name, childName) == 0) return *it;
    return nullptr;
}

RegHive::RegHive(std::filesystem::path file)
    : file_(std::move(file)), root_(&nodes_.emplace_back()) {}

RegHive::~RegHive() = default;

void RegHive::clear(State state, std::string error) {
    buffer_.clear();
    parse();
    state_ = state;
    error_ = std::move(error);
}

void RegHive::refresh() {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) {
        if (!everRead_ || state_ != State::Missing) {
            clear(State::Missing);
            signature_ = {};
            everRead_ = true;
        }
        return;
    }
    if (everRead_ && state_ != State::Missing && SignatureOf(st) == signature_) return;
    load();
}

void RegHive::reload() {
    load();
}

void RegHive::load() {
    everRead_ = true;
    // Opened without waiting, so that a FIFO or a device in the file's place cannot
    // hold the read; only a regular file is read.
    const int fd = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int readErrno = fd < 0 ? errno : 0;
    struct stat st {};
    std::string text;
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
    if (!ok && fd >= 0) readErrno = errno;
    bool regular = true;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        regular = false;
    }
    if (ok) {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false, readErrno = errno;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
        // A file that grew while it was read is read to its end.
        char more[65536];
        for (;;) {
            const ssize_t n = ::read(fd, more, sizeof more);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false, readErrno = errno;
            if (n <= 0) break;
            text.append(more, static_cast<std::size_t>(n));
        }
    }
    if (fd >= 0) ::close(fd);
    if (fd < 0 && readErrno == ENOENT) {
        clear(State::Missing);
        signature_ = {};
        return;
    }
    signature_ = SignatureOf(st);
    if (!ok) {
        const char* reason = regular ? std::strerror(readErrno) : "it is not a regular file";
        clear(State::Unreadable, "cannot read " + file_.string() + ": " + reason);
        return;
    }
    loadText(std::move(text));
}

void RegHive::loadText(std::string text) {
    buffer_ = std::move(text);
    parse();
}

void RegHive::parse() {
    ++generation_;
    sections_.clear();
    sectionStore_.clear();
    chain_.clear();
    chainParts_.clear();
    nodes_.clear();
    root_ = &nodes_.emplace_back();
    relativeTo_.clear();
    preamble_ = {};
    error_.clear();
    const std::string_view text = buffer_;
    const std::string_view first = LineAt(text, 0);
    std::string_view header = first;
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r'))
        header.remove_suffix(1);
    if (header != kRegHeader) {
        // Not a registry file Wine reads (Wine refuses it whole, byte-order mark
        // and all): it is neither read nor ever written.
        state_ = State::Unreadable;
        error_ = file_.string() + " is not a Wine registry file: its first line is not \"" +
                 std::string(kRegHeader) + "\"";
        if (header.starts_with("\xEF\xBB\xBF")) error_ += " (it starts with a byte-order mark)";
        return;
    }
    state_ = State::Loaded;

    std::size_t pos = first.size();
    std::size_t contentEnd = pos; // end of the last line that was not blank
    std::size_t sectionStart = 0;
    RegSection* current = nullptr;
    std::vector<std::string_view> parts;
    std::unordered_map<RegNode*, RegSection*> lastOfKey; // keys with more than one section
    while (pos < text.size()) {
        const std::string_view line = LineAt(text, pos);
        const std::size_t lineEnd = pos + line.size();
        const char c = line[0];
        if (c == '[') {
            if (current) {
                current->text = text.substr(sectionStart, contentEnd - sectionStart);
            } else {
                preamble_ = text.substr(0, contentEnd);
            }
            current = &sectionStore_.emplace_back();
            sectionStart = contentEnd;
            current->keyLineStart = pos - sectionStart;
            current->bodyStart = lineEnd - sectionStart;
            if (SplitKeyLine(line, parts)) {
                RegNode* node = nodeForPath(parts);
                current->node = node;
                if (!node->section) {
                    node->section = current;
                } else {
                    auto [it, first] = lastOfKey.try_emplace(node, node->section);
                    it->second->nextSame = current;
                    it->second = current;
                }
            }
            sections_.push_back(current);
            contentEnd = lineEnd;
        } else if (!IsBlankLine(line)) {
            if (!current && line.starts_with(kRelativeTo)) {
                std::string rest(line.substr(kRelativeTo.size()));
                while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
                    rest.pop_back();
                rest.push_back('\n');
                UnescapeText(rest, '\n', relativeTo_);
                if (!relativeTo_.empty() && relativeTo_[0] == u'\\') relativeTo_.erase(0, 1);
            }
            if (current && c == '#' && IsOption(line, "#link")) current->link = true;
            contentEnd = lineEnd;
        }
        pos = lineEnd;
    }
    if (current) {
        // Blank lines at the end of the file stay with the last section.
        current->text = text.substr(sectionStart);
    } else {
        preamble_ = text;
    }
}

RegNode* RegHive::nodeForPath(const std::vector<std::string_view>& parts) {
    // Sections come in tree order, so the path usually shares its start with the
    // path of the section before: names written alike are the same, and only the
    // names after them are read.
    std::size_t depth = 0;
    while (depth < parts.size() && depth < chain_.size() && parts[depth] == chainParts_[depth])
        ++depth;
    chain_.resize(depth);
    chainParts_.assign(parts.begin(), parts.end());
    RegNode* node = depth ? chain_.back() : root_;
    std::u16string& name = scratchName_;
    for (; depth < parts.size(); ++depth) {
        UnescapeName(parts[depth], name);
        auto& kids = node->children;
        RegNode* child = nullptr;
        if (kids.empty() || CompareNoCase(kids.back()->name, name) < 0) {
            child = kids.emplace_back(&nodes_.emplace_back());
        } else {
            child = node->findChild(name);
            if (!child) {
                auto it = std::lower_bound(kids.begin(), kids.end(), name,
                                           [](const RegNode* n, const std::u16string& key) {
                                               return CompareNoCase(n->name, key) < 0;
                                           });
                child = *kids.insert(it, &nodes_.emplace_back());
            }
        }
        if (child->name.empty()) {
            child->name = name;
            child->parent = node;
        }
        chain_.push_back(child);
        node = child;
    }
    return node;
}

void RegHive::parseSection(RegSection& section) {
    if (section.parsed) return;
    section.items.clear();
    const std::string_view body = section.text.substr(section.bodyStart);
    RegValue scratch;
    std::size_t pos = 0;
    while (pos < body.size()) {
        RegItem item;
        const char c = body[pos];
        if (c == '"' || c == '@') {
            item.raw = body.substr(pos, ValueEntryLength(body.substr(pos)));
            // Only entries Wine would read are values; the rest is kept as it stands.
            if (ParseValue(item.raw, scratch)) item.kind = RegItem::Kind::Value;
        } else {
            item.raw = LineAt(body, pos);
            if (item.raw.starts_with("#time=")) item.kind = RegItem::Kind::Time;
        }
        pos += item.raw.size();
        section.items.push_back(std::move(item));
    }
    section.parsed = true;
}

const std::u16string& RegHive::itemName(const RegItem& item) {
    if (item.value) return item.value->name;
    ParseValueName(item.raw, scratchName_);
    return scratchName_;
}

bool RegHive::isLink(const RegNode& node) const {
    for (const RegSection* s = node.section; s; s = s->nextSame)
        if (s->link) return true;
    return false;
}

std::optional<RegValue> RegHive::findValue(RegNode& node, std::u16string_view name) {
    const RegItem* found = nullptr;
    // Of two entries with one name the later one counts, as when Wine reads them.
    for (RegSection* s = node.section; s; s = s->nextSame) {
        parseSection(*s);
        for (const RegItem& item : s->items)
            if (item.kind == RegItem::Kind::Value && EqualsNoCase(itemName(item), name))
                found = &item;
    }
    if (!found) return std::nullopt;
    if (found->value) return *found->value;
    RegValue value;
    ParseValue(found->raw, value);
    return value;
}

std::vector<RegValue> RegHive::values(RegNode& node) {
    std::vector<RegValue> out;
    // A name read again replaces the value where it first stood, as Wine reads it.
    std::unordered_map<std::u16string, std::size_t> seen;
    RegValue value;
    for (RegSection* s = node.section; s; s = s->nextSame) {
        parseSection(*s);
        for (const RegItem& item : s->items) {
            if (item.kind != RegItem::Kind::Value) continue;
            if (item.value) {
                value = *item.value;
            } else {
                ParseValue(item.raw, value);
            }
            const auto [it, added] = seen.try_emplace(Folded(value.name), out.size());
            if (added) {
                out.push_back(std::move(value));
            } else {
                // The stored name is the first one's.
                value.name = std::move(out[it->second].name);
                out[it->second] = std::move(value);
            }
            value = {};
        }
    }
    return out;
}

std::size_t RegHive::firstSectionBelow(const RegNode& node) const {
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (IsInside(sections_[i]->node, node)) return i;
    return sections_.size();
}

RegSection* RegHive::addSection(RegNode& node, std::size_t index) {
    RegSection* section = &sectionStore_.emplace_back();
    section->node = &node;
    section->text = kNewSectionLead;
    section->keyLineStart = kNewSectionLead.size();
    section->bodyStart = kNewSectionLead.size();
    section->parsed = true;
    section->dirty = true;
    node.section = section;
    index = std::min(index, sections_.size());
    sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(index), section);
    return section;
}

void RegHive::setValue(RegNode& node, RegValue value) {
    RegSection* section = node.section;
    // A key that only its subkeys implied gets a section of its own, placed where
    // Wine would write it: before the sections of its subkeys.
    if (!section) section = addSection(node, firstSectionBelow(node));
    // The first entry of the name, in whichever of the key's sections, takes the
    // value; every later one goes. One pass over each section.
    RegSection* targetSection = nullptr;
    std::size_t targetIndex = 0;
    for (RegSection* s = section; s; s = s->nextSame) {
        parseSection(*s);
        auto& items = s->items;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].kind == RegItem::Kind::Value &&
                EqualsNoCase(itemName(items[i]), value.name)) {
                if (targetSection) {
                    s->dirty = true;
                    continue;
                }
                // The stored name keeps its case.
                value.name = itemName(items[i]);
                targetSection = s;
                targetIndex = kept;
            }
            if (kept != i) items[kept] = std::move(items[i]);
            ++kept;
        }
        items.resize(kept);
    }
    if (targetSection) {
        targetSection->items[targetIndex].value = std::make_unique<RegValue>(std::move(value));
        targetSection->dirty = true;
        return;
    }
    auto& items = section->items;
    // Wine keeps values ordered by name; a new one goes before the first greater.
    auto pos = std::find_if(items.begin(), items.end(), [&](const RegItem& item) {
        return item.kind == RegItem::Kind::Value && CompareNoCase(itemName(item), value.name) > 0;
    });
    if (pos == items.end()) {
        // After the last value, ahead of trailing blank lines.
        while (pos != items.begin() && (pos - 1)->kind == RegItem::Kind::Other &&
               IsBlankLine((pos - 1)->raw))
            --pos;
        // Never after hex data that goes on past the section's last line: it would
        // take the new entry in. What follows such an entry stays as it was.
        if (pos != items.begin() && !(pos - 1)->value && EndsContinued((pos - 1)->raw)) --pos;
    }
    RegItem item;
    item.kind = RegItem::Kind::Value;
    item.value = std::make_unique<RegValue>(std::move(value));
    items.insert(pos, std::move(item));
    section->dirty = true;
}

bool RegHive::deleteValue(RegNode& node, std::u16string_view name) {
    bool removed = false;
    for (RegSection* s = node.section; s; s = s->nextSame) {
        parseSection(*s);
        if (std::erase_if(s->items, [&](const RegItem& item) {
                return item.kind == RegItem::Kind::Value && EqualsNoCase(itemName(item), name);
            }) == 0)
            continue;
        s->dirty = true;
        removed = true;
    }
    return removed;
}

void RegHive::deleteKey(RegNode& node) {
    RegNode* parent = node.parent;
    if (!parent) return;
    std::size_t firstRemoved = sections_.size();
    std::size_t kept = 0;
    for (RegSection* section : sections_) {
        if (IsInside(section->node, node)) {
            if (firstRemoved == sections_.size()) firstRemoved = kept;
            // Held until the file is read again; only its text and items go now.
            section->items = std::vector<RegItem>();
            section->own.reset();
            section->text = {};
            continue;
        }
        sections_[kept++] = section;
    }
    sections_.resize(kept);
    chain_.clear();
    auto& kids = parent->children;
    kids.erase(
        std::find_if(kids.begin(), kids.end(), [&](const RegNode* n) { return n == &node; }));
    // A parent that only the removed sections implied must not vanish with them.
    if (parent != root_ && !parent->section && kids.empty()) addSection(*parent, firstRemoved);
}

RegNode& RegHive::addKey(RegNode& node, std::u16string_view name) {
    RegNode* child = node.findChild(name);
    if (!child) {
        auto& kids = node.children;
        auto it = std::lower_bound(kids.begin(), kids.end(), name,
                                   [](const RegNode* n, std::u16string_view key) {
                                       return CompareNoCase(n->name, key) < 0;
                                   });
        const bool last = it == kids.end();
        child = *kids.insert(it, &nodes_.emplace_back());
        child->name = std::u16string(name);
        child->parent = &node;
        chain_.clear();
        // In tree order: before the next sibling's sections, else after the parent's.
        std::size_t index = sections_.size();
        if (!last) {
            const auto next = std::find_if(kids.begin(), kids.end(), [&](const auto& n) {
                return CompareNoCase(n->name, name) > 0;
            });
            if (next != kids.end()) index = firstSectionBelow(**next);
        } else {
            for (std::size_t i = sections_.size(); i > 0; --i)
                if (IsInside(sections_[i - 1]->node, node)) {
                    index = i;
                    break;
                }
        }
        addSection(*child, index);
        return *child;
    }
    if (!child->section) addSection(*child, firstSectionBelow(*child));
    return *child;
}

void RegHive::markLink(RegNode& node) {
    if (isLink(node)) return;
    RegSection* section = node.section ? node.section : addSection(node, firstSectionBelow(node));
    parseSection(*section);
    RegItem item;
    item.raw = "#link\n";
    section->items.insert(section->items.begin(), std::move(item));
    section->link = true;
    section->dirty = true;
}

void RegHive::appendSection(const RegSection& section, std::string& out) const {
    if (!section.dirty) {
        out += section.text;
        return;
    }
    out += section.text.substr(0, section.keyLineStart);
    std::vector<std::u16string_view> names;
    for (const RegNode* n = section.node; n && n->parent; n = n->parent)
        names.push_back(n->name);
    std::reverse(names.begin(), names.end());
    const Now now = CurrentTime();
    FormatKeyLine(names, now.unixSeconds, out);
    FormatTimeLine(now.fileTime, out);
    for (const RegItem& item : section.items) {
        if (item.kind == RegItem::Kind::Time) continue;
        if (!out.empty() && out.back() != '\n') out.push_back('\n');
        if (item.value) {
            FormatValue(*item.value, out);
        } else {
            out += item.raw;
        }
    }
}

std::string RegHive::toText() {
    std::string out(preamble_);
    for (const RegSection* section : sections_)
        appendSection(*section, out);
    return out;
}

namespace {

// Writes to a file descriptor through a buffer; large pieces go straight out. After
// the first error nothing more is written or kept.
class FileWriter {
public:
    explicit FileWriter(int fd) : fd_(fd) { buffer_.reserve(kBufferSize); }
    void put(std::string_view text) {
        if (!ok_) return;
        if (buffer_.size() + text.size() > kBufferSize) {
            flush();
            if (text.size() >= kBufferSize) {
                writeAll(text);
                return;
            }
        }
        buffer_ += text;
    }
    bool finish() {
        flush();
        return ok_;
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    void flush() {
        writeAll(buffer_);
        buffer_.clear();
    }
    void writeAll(std::string_view text) {
        while (ok_ && !text.empty()) {
            const ssize_t n = ::write(fd_, text.data(), text.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok_ = false;
                break;
            }
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    int fd_;
    bool ok_ = true;
    std::string buffer_;
};

} // namespace

bool RegHive::save(bool syncFolder) {
    if (state_ != State::Loaded) return false;
    // A write by a program that does not take Wine's lock, made since the file was
    // read, is kept: this save is refused and the file read again as it now is.
    struct stat now {};
    const bool exists = ::stat(file_.c_str(), &now) == 0;
    if (exists ? SignatureOf(now) != signature_ : signature_ != Signature{}) {
        saveError_ = "another program changed it since it was read";
        load();
        return false;
    }
    const std::filesystem::path dir = file_.parent_path();
    std::string tmpl = dir.string();
    tmpl.append(tmpl.empty() ? "." : "/.").append(file_.filename().string()).append(".XXXXXX");
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        saveError_ = std::strerror(errno);
        load();
        return false;
    }
    // Locked while it is written, so that no other write takes it for a stale one.
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (exists) ::fchmod(fd, now.st_mode & 07777);
    struct stat st {};

    // Unchanged sections go out straight from the text that was read; changed ones
    // are formatted once and kept, as they are now the file's text.
    std::vector<std::pair<RegSection*, std::string>> fresh;
    FileWriter writer(fd);
    writer.put(preamble_);
    for (RegSection* section : sections_) {
        if (section->dirty) {
            std::string text;
            appendSection(*section, text);
            writer.put(text);
            fresh.emplace_back(section, std::move(text));
        } else {
            writer.put(section->text);
        }
    }
    errno = 0;
    bool ok = writer.finish() && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    int failure = ok ? 0 : errno;
    // The file that is renamed into place is the one the next look at the disk compares.
    const Signature written = SignatureOf(st);
    if (::close(fd) != 0 && ok) ok = false, failure = errno;
    if (ok && ::rename(tmpl.c_str(), file_.c_str()) != 0) ok = false, failure = errno;
    if (!ok) {
        saveError_ = std::strerror(failure ? failure : EIO);
        ::unlink(tmpl.c_str());
        load();
        return false;
    }
    if (syncFolder) {
        const int dirFd =
            ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
    }
    for (auto& [section, text] : fresh) {
        const std::size_t lead = section->keyLineStart;
        section->own = std::make_unique<std::string>(std::move(text));
        section->text = *section->own;
        section->keyLineStart = lead;
        section->bodyStart = LineAt(section->text, lead).size() + lead;
        section->parsed = false;
        section->items.clear();
        section->dirty = false;
    }
    signature_ = written;
    ++generation_;
    return true;
}

namespace {

// ".<name>." followed by the six letters or digits mkstemp() puts there.
bool IsTemporaryOf(std::string_view entry, std::string_view name) {
    constexpr std::size_t kRandom = 6;
    if (entry.size() != name.size() + 2 + kRandom || entry[0] != '.' ||
        entry.substr(1, name.size()) != name || entry[1 + name.size()] != '.')
        return false;
    for (char c : entry.substr(entry.size() - kRandom))
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

bool Before(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

void RemoveStaleTemporaries(const std::filesystem::path& file, const struct timespec& before) {
    const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
    const std::string name = file.filename().string();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dirFd = ::dirfd(d);
    while (const dirent* entry = ::readdir(d)) {
        if (!IsTemporaryOf(entry->d_name, name)) continue;
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Before(st.st_mtim, before) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

} // namespace corvane::wine
