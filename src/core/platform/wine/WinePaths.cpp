#include "core/platform/wine/WinePaths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

#include "core/platform/Utf.h"
#include "core/platform/wine/ChangeWatch.h"

namespace corvane::wine {

// A folder's names as last listed, each with its case-folded form (empty for a name
// that is not UTF-8), and the folder's state when it was listed.
struct FolderListing {
    std::vector<std::string> names;
    std::vector<std::u16string> folded;
    std::vector<std::size_t> byFolded; // indexes of `names`, ordered by `folded`
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    timespec ctime{};

    struct Less {
        const FolderListing* l;
        bool operator()(std::size_t i, const std::u16string& key) const {
            return l->folded[i] < key;
        }
        bool operator()(const std::u16string& key, std::size_t i) const {
            return key < l->folded[i];
        }
    };
};

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Windows reserves these names for devices, with or without an extension.
bool IsDeviceName(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

bool Exists(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// `folder` and `name` joined as a path is joined: a separator between them unless the
// folder ends with one (or is empty).
std::string Joined(std::string folder, std::string_view name) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folder += name;
    return folder;
}

std::vector<std::string> ListFolder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Listings of the folders that paths went through. A folder's entries change only
// with its modification time, so a listing is used again while the folder's stat is
// as it was when it was listed. A folder modified within the last two seconds is not
// kept: a file system's clock ticks coarsely, and a change in the same tick as the
// listing would leave its time as it was.
class ListingCache {
public:
    // The folder's listing, read again when it changed; null when it is no folder.
    std::shared_ptr<const FolderListing> get(const std::filesystem::path& folder) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
        if (auto listing = kept(folder.native(), st)) return listing;
        return list(folder.native(), st);
    }

    // The kept listing of the folder whose stat is `st`, when it is still as listed.
    std::shared_ptr<const FolderListing> kept(const std::string& folder, const struct stat& st) {
        std::lock_guard lock(mutex_);
        const auto it = listings_.find(folder);
        if (it == listings_.end()) return nullptr;
        const FolderListing& l = *it->second;
        if (l.dev == st.st_dev && l.ino == st.st_ino && SameTime(l.mtime, st.st_mtim) &&
            SameTime(l.ctime, st.st_ctim))
            return it->second;
        listings_.erase(it);
        return nullptr;
    }

    std::shared_ptr<const FolderListing> list(const std::string& folder, const struct stat& st) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        auto listing = std::make_shared<FolderListing>();
        listing->dev = st.st_dev;
        listing->ino = st.st_ino;
        listing->mtime = st.st_mtim;
        listing->ctime = st.st_ctim;
        listing->names = ListFolder(folder);
        listing->folded.reserve(listing->names.size());
        for (const std::string& name : listing->names) {
            std::u16string key;
            if (auto units = Utf8ToUtf16(name)) {
                key.reserve(units->size());
                for (char16_t c : *units)
                    key.push_back(FoldCase(c));
            }
            listing->folded.push_back(std::move(key));
        }
        listing->byFolded.resize(listing->names.size());
        for (std::size_t i = 0; i < listing->byFolded.size(); ++i)
            listing->byFolded[i] = i;
        std::sort(
            listing->byFolded.begin(), listing->byFolded.end(),
            [&](std::size_t x, std::size_t y) { return listing->folded[x] < listing->folded[y]; });
        if (now.tv_sec - st.st_mtim.tv_sec >= 2) {
            std::lock_guard lock(mutex_);
            if (listings_.size() >= kMaxFolders) listings_.clear();
            listings_[folder] = listing;
        }
        return listing;
    }

private:
    static constexpr std::size_t kMaxFolders = 512;
    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const FolderListing>> listings_;
};

ListingCache& Listings() {
    static ListingCache cache;
    return cache;
}

// Orders names as Windows lists a folder: without regard to case (names that are
// not UTF-8 by their bytes).
void SortAsWindows(std::vector<std::string>& names) {
    struct Keyed {
        std::u16string key;
        std::string name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) {
        std::u16string key;
        if (auto units = Utf8ToUtf16(name)) {
            for (char16_t c : *units)
                key.push_back(FoldCase(c));
        } else {
            for (char c : name)
                key.push_back(static_cast<unsigned char>(c));
        }
        keyed.push_back({std::move(key), std::move(name)});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.key != b.key ? a.key < b.key : a.name < b.name;
    });
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[i].name);
}

std::u16string Folded(std::u16string_view units) {
    std::u16string key;
    key.reserve(units.size());
    for (char16_t c : units)
        key.push_back(FoldCase(c));
    return key;
}

// Whether `name` is among the listing's names whose folded form is `key`; the first
// of them as Windows orders them otherwise (empty when there is none).
std::string MatchIn(const FolderListing& listing, const std::u16string& key,
                    const std::string& name) {
    const auto [from, to] = std::equal_range(listing.byFolded.begin(), listing.byFolded.end(), key,
                                             FolderListing::Less{&listing});
    if (from == to) return {};
    std::vector<std::string> matches;
    for (auto it = from; it != to; ++it) {
        if (listing.names[*it] == name) return name;
        matches.push_back(listing.names[*it]);
    }
    SortAsWindows(matches);
    return matches.front();
}

} // namespace

// The folders paths went through, with their listings: kept from step to step while a
// watch on each of them (and on the drives) tells of no change, else for one step.
struct WinePaths::StepFolders {
    explicit StepFolders(const std::filesystem::path& drives) : watch(drives, {}) {}

    // Each folder is watched before it is looked at, so that a change made after the
    // look is told.
    bool keep(const std::string& folder) {
        if (!watch.watching() || stepOnly) return false;
        const int number = watch.watchFolder(folder);
        if (number < 0) {
            // A folder that cannot be watched: nothing is kept beyond the step.
            stepOnly = true;
            return false;
        }
        auto& paths = pathsOf[number];
        if (std::find(paths.begin(), paths.end(), folder) == paths.end()) paths.push_back(folder);
        return true;
    }
    // A folder that changed, and every folder reached through it.
    void forget(const std::string& folder) {
        const std::string inside = folder + "/";
        std::erase_if(folders, [&](const auto& entry) {
            return entry.first == folder || entry.first.starts_with(inside);
        });
    }
    void begin() {
        inStep = true;
        noFolders.clear();
        bool all = false;
        watch.changed([&](int number) {
            const auto paths = pathsOf.find(number);
            if (number < 0 || number == watch.folderWatch() || paths == pathsOf.end()) {
                all = true;
                return;
            }
            for (const std::string& folder : paths->second)
                forget(folder);
        });
        if (all || !watch.watching() || stepOnly) folders.clear();
    }
    void end() {
        inStep = false;
        noFolders.clear();
        if (!watch.watching() || stepOnly) folders.clear();
    }

    ChangeWatch watch; // on dosdevices, and on each folder kept
    bool inStep = false;
    bool stepOnly = false;
    std::unordered_map<std::string, std::shared_ptr<const FolderListing>> folders;
    std::unordered_set<std::string> noFolders; // found to be no folder in this step
    std::unordered_map<int, std::vector<std::string>> pathsOf;
};

namespace {

// The entry of `folder` that `name` means: itself when it exists, else the first
// entry equal to it without regard to case; empty when there is none. A kept listing
// of an unchanged folder answers without looking for the name itself; within a step a
// folder is looked at once.
std::string MatchName(const std::string& folder, const std::string& name,
                      WinePaths::StepFolders* step) {
    const auto wanted = Utf8ToUtf16(name);
    const bool inStep = step && step->inStep && wanted;
    if (inStep) {
        if (step->noFolders.contains(folder)) return {};
        const auto seen = step->folders.find(folder);
        if (seen != step->folders.end()) return MatchIn(*seen->second, Folded(*wanted), name);
    }
    const bool kept = inStep && step->keep(folder);
    struct stat st {};
    std::shared_ptr<const FolderListing> listing;
    if (wanted) {
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (inStep) step->noFolders.insert(folder);
            return {};
        }
        listing = Listings().kept(folder, st);
    }
    if (!listing) {
        // A folder kept from step to step is listed once, rather than looked into name
        // by name.
        if (!kept && Exists(Joined(folder, name))) return name;
        if (!wanted) return {};
        listing = Listings().list(folder, st);
    }
    if (inStep) step->folders.emplace(folder, listing);
    return MatchIn(*listing, Folded(*wanted), name);
}

char FoldByte(char c) {
    return AsciiLower(c);
}
char16_t FoldUnit(char16_t c) {
    return FoldCase(c);
}

template <typename Char, Char (*Fold)(Char)>
bool MatchUnits(std::basic_string_view<Char> p, std::basic_string_view<Char> s) {
    // Iterative matching with one backtrack point for the last '*'.
    std::size_t pi = 0, si = 0, star = std::basic_string_view<Char>::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == Char('?') || Fold(p[pi]) == Fold(s[si]))) {
            ++pi, ++si;
        } else if (pi < p.size() && p[pi] == Char('*')) {
            star = pi++;
            mark = si;
        } else if (star != std::basic_string_view<Char>::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == Char('*'))
        ++pi;
    return pi == p.size();
}

} // namespace

std::filesystem::path RealLocation(const std::filesystem::path& linuxPath, bool entryItself) {
    // A location that cannot be worked out lies nowhere: the empty path is inside nothing.
    if (linuxPath.empty()) return {};
    std::error_code ec;
    const std::filesystem::path whole =
        linuxPath.is_absolute() ? linuxPath : std::filesystem::current_path(ec) / linuxPath;
    if (ec) return {};
    // The names still to walk, the next one last; a link's target takes its place.
    std::vector<std::string> pending;
    for (const auto& name : whole.relative_path())
        pending.push_back(name.string());
    std::reverse(pending.begin(), pending.end());
    std::filesystem::path real = "/";
    std::size_t missing = 0; // how many of the last names of `real` do not exist yet
    int hops = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            // `real` holds no link, so its parent is the real parent; a missing folder
            // that will be made is left again as the kernel will leave it.
            if (real.has_relative_path()) real = real.parent_path();
            if (missing > 0) --missing;
            continue;
        }
        const std::filesystem::path next = real / name;
        if (missing == 0) {
            struct stat st {};
            if (::lstat(next.c_str(), &st) == 0) {
                if (S_ISLNK(st.st_mode) && !(entryItself && pending.empty())) {
                    // Followed as the kernel follows it, with the kernel's limit.
                    if (++hops > 40) return {};
                    std::string target(PATH_MAX, '\0');
                    const ssize_t n = ::readlink(next.c_str(), target.data(), target.size());
                    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
                    target.resize(static_cast<std::size_t>(n));
                    const std::filesystem::path to = target;
                    if (to.is_absolute()) real = "/";
                    std::vector<std::string> names;
                    for (const auto& part : to.relative_path())
                        names.push_back(part.string());
                    pending.insert(pending.end(), names.rbegin(), names.rend());
                    continue;
                }
                real = next;
                continue;
            }
            // A place that cannot be looked at lies nowhere.
            if (errno != ENOENT && errno != ENOTDIR) return {};
        }
        // A missing folder is made where it is named.
        real = next;
        ++missing;
    }
    return real;
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*" || pattern == "*") return true;
    const auto p = Utf8ToUtf16(pattern);
    const auto s = Utf8ToUtf16(name);
    // A name that is not UTF-8 is matched byte by byte.
    if (!p || !s) return MatchUnits<char, FoldByte>(pattern, name);
    return MatchUnits<char16_t, FoldUnit>(*p, *s);
}

std::vector<std::string> MatchingEntries(const std::filesystem::path& folder,
                                         std::string_view pattern) {
    std::vector<std::string> out;
    const auto listing = Listings().get(folder);
    if (!listing) return out;
    for (const std::string& entry : listing->names)
        if (WildcardMatch(pattern, entry)) out.push_back(entry);
    SortAsWindows(out);
    return out;
}

WinePaths::WinePaths(std::filesystem::path prefix, std::filesystem::path appDir)
    : prefix_(std::move(prefix)), appDir_(std::move(appDir)),
      step_(std::make_shared<StepFolders>(prefix_ / "dosdevices")) {}

void WinePaths::beginStep() {
    step_->begin();
}

void WinePaths::endStep() {
    step_->end();
}

std::optional<WinePaths::Parsed> WinePaths::parse(std::string_view path, bool checkDrive) const {
    if (path.empty()) return std::nullopt;
    Parsed parsed;
    std::string_view rest = path;
    if (path[0] == '/') {
        parsed.linux = true;
        parsed.base = "/";
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return std::nullopt; // UNC paths and \\?\ or \\.\ device paths
    } else if (path.size() >= 2 && path[1] == ':' &&
               ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'))) {
        const char drive = static_cast<char>(path[0] | 0x20);
        parsed.base = Joined(Joined(prefix_.native(), "dosdevices"), std::string{drive, ':'});
        parsed.drive = true;
        rest = path.substr(2);
    } else if (IsSeparator(path[0])) {
        parsed.base =
            Joined(Joined(prefix_.native(), "dosdevices"), "c:"); // the current drive's root
        parsed.drive = true;
    } else {
        parsed.base = appDir_.native();
    }
    if (parsed.drive && checkDrive) {
        struct stat st {};
        if (::stat(parsed.base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end]))
            ++end;
        std::string name(rest.substr(start, end - start));
        start = end + 1;
        if (parsed.linux) {
            if (!name.empty()) parsed.names.push_back(std::move(name));
            continue;
        }
        if (name == ".") continue;
        if (name == "..") {
            // Never above the root.
            if (!parsed.names.empty()) parsed.names.pop_back();
            continue;
        }
        if (!HasWildcard(name))
            while (!name.empty() && (name.back() == '.' || name.back() == ' '))
                name.pop_back();
        if (name.empty()) continue;
        if (IsDeviceName(name)) return std::nullopt;
        parsed.names.push_back(std::move(name));
    }
    return parsed;
}

std::string WinePaths::walk(const Parsed& parsed, std::size_t count, bool* reached) const {
    std::string current = parsed.base;
    bool found = true;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = parsed.names[i];
        if (found && !parsed.linux) {
            const std::string match = MatchName(current, name, step_.get());
            if (!match.empty()) {
                current = Joined(std::move(current), match);
                continue;
            }
            found = false;
        }
        current = Joined(std::move(current), name);
    }
    if (reached) *reached = found;
    return current;
}

std::optional<std::filesystem::path> WinePaths::resolve(std::string_view path) const {
    const auto parsed = parse(path);
    if (!parsed) return std::nullopt;
    return walk(*parsed, parsed->names.size());
}

std::optional<WinePaths::Split> WinePaths::split(std::string_view path, bool checkDrive) const {
    const auto parsed = parse(path, checkDrive);
    if (!parsed || parsed->names.empty()) return std::nullopt;
    Split out;
    bool reached = false;
    std::string folder = walk(*parsed, parsed->names.size() - 1, &reached);
    out.last = parsed->names.back();
    // The whole path as resolve() gives it, from the folder already walked.
    std::string match;
    if (reached && !parsed->linux && !HasWildcard(out.last))
        match = MatchName(folder, out.last, step_.get());
    out.whole = Joined(folder, match.empty() ? out.last : match);
    out.folder = std::move(folder);
    out.found = reached && (parsed->linux || !match.empty());
    out.folderFound = reached;
    out.driveRoot = parsed->drive && parsed->names.size() == 1;
    return out;
}

bool WinePaths::insidePrefix(const std::filesystem::path& location) const {
    if (location.empty() || !location.is_absolute()) return false;
    const auto prefix = RealLocation(prefix_, false);
    if (prefix.empty()) return false;
    auto inner = location.begin();
    for (auto outer = prefix.begin(); outer != prefix.end(); ++outer, ++inner) {
        // A trailing separator of the prefix is an empty last component.
        if (outer->empty()) break;
        if (inner == location.end() || *inner != *outer) return false;
    }
    return true;
}

bool WinePaths::isProtected(const std::filesystem::path& linuxPath) const {
    // A link is judged by where it stands, not by where it points.
    const auto target = RealLocation(linuxPath, true);
    if (target == "/" || target.empty()) return true;
    // The prefix itself and every folder that holds it.
    const auto prefix = RealLocation(prefix_, false);
    const auto [end, unused] =
        std::mismatch(target.begin(), target.end(), prefix.begin(), prefix.end());
    if (end == target.end()) return true;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(prefix_ / "dosdevices", ec)) {
        std::error_code inner;
        if (std::filesystem::is_directory(entry.path(), inner) &&
            RealLocation(entry.path(), false) == target)
            return true;
    }
    return false;
}

std::string WinePaths::windowsPathOf(const std::filesystem::path& linuxPath) const {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::weakly_canonical(linuxPath, ec);
    if (ec || !target.is_absolute()) return {};
    std::string best;
    std::size_t bestDepth = 0;
    for (const auto& entry : std::filesystem::directory_iterator(prefix_ / "dosdevices", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 2 || name[1] != ':' ||
            !std::isalpha(static_cast<unsigned char>(name[0])))
            continue;
        std::error_code linkEc;
        const std::filesystem::path root = std::filesystem::canonical(entry.path(), linkEc);
        if (linkEc || !std::filesystem::is_directory(root, linkEc)) continue;
        auto r = root.begin();
        auto t = target.begin();
        std::size_t depth = 0;
        for (; r != root.end() && t != target.end() && *r == *t; ++r, ++t)
            ++depth;
        if (r != root.end() && !r->empty()) continue; // not inside this drive
        if (!best.empty() && depth <= bestDepth) continue;
        std::string path(1, static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))));
        path += ":";
        for (; t != target.end(); ++t)
            if (!t->empty()) path += "\\" + t->string();
        if (path.size() == 2 || linuxPath.string().ends_with('/')) path += "\\";
        best = std::move(path);
        bestDepth = depth;
    }
    return best;
}

} // namespace corvane::wine
