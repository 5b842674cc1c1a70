#include "core/platform/wine/WineFiles.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>

#include "core/platform/wine/HeldFolder.h"

namespace corvane::wine {

namespace {

namespace fs = std::filesystem;

enum class Kind { Missing, File, Folder, Link };

// What a path is, links followed; a link whose target is missing is a Link.
Kind KindOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Kind::Missing;
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) return Kind::Link;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::File;
}

// Whether `inner` is `outer` or lies inside it, both where they really are.
bool Inside(const fs::path& inner, const fs::path& outer) {
    const auto a = RealLocation(inner, false);
    const auto b = RealLocation(outer, false);
    const auto [end, unused] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return end == b.end();
}

// One entry a copy writes.
struct Write {
    enum class What { File, Link, Folder } what; // Folder: a new one, with all it holds
    fs::path from;
    fs::path to;
};

// What copying `from` onto `to` writes, entry by entry, as things stand: a file or a
// link replaces what is there, a folder is made whole where nothing is and merged,
// entry by entry, into a folder that is there. A part that cannot be copied (a folder
// where a file goes, a file where a folder goes, a source that is neither) goes to
// `failed` with the reason. The source named by the copy is taken through a link; a
// link inside a copied folder is copied as a link.
void PlanCopy(const fs::path& from, const fs::path& to, bool named, std::vector<Write>& writes,
              std::vector<std::string>& failed) {
    struct stat st {};
    if ((named ? ::stat(from.c_str(), &st) : ::lstat(from.c_str(), &st)) != 0) {
        failed.push_back(from.string() + ": not found");
        return;
    }
    const Kind there = KindOf(to);
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
        if (there == Kind::Folder)
            failed.push_back(to.string() + ": a folder is in the way");
        else
            writes.push_back(
                {S_ISLNK(st.st_mode) ? Write::What::Link : Write::What::File, from, to});
    } else if (!S_ISDIR(st.st_mode)) {
        failed.push_back(from.string() + ": neither a file nor a folder, not copied");
    } else if (there == Kind::Missing) {
        writes.push_back({Write::What::Folder, from, to});
    } else if (there != Kind::Folder) {
        failed.push_back(to.string() + ": a file is in the way");
    } else {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(from, ec))
            names.push_back(entry.path().filename().string());
        if (ec) failed.push_back(from.string() + ": " + ec.message());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            PlanCopy(from / name, to / name, false, writes, failed);
    }
}

} // namespace

bool WineFiles::fail(std::string_view written, std::string_view why) const {
    // The first failure of a change is the one it reports.
    if (error_.empty()) error_ = std::string(written) + ": " + std::string(why);
    return false;
}

std::string WineFiles::refusalAt(const fs::path& target, bool entryItself) const {
    // The entry itself, then (unless it is the entry that changes) what it leads to.
    for (const bool itself : {true, false}) {
        if (!itself && entryItself) break;
        const auto real = RealLocation(target, itself);
        if (!paths_.insidePrefix(real))
            return "refused, it lies outside the prefix " + paths_.prefix().string() + " (at " +
                   (real.empty() ? target : real).string() + ")";
    }
    return {};
}

bool WineFiles::mayChange(std::string_view written, const fs::path& target,
                          bool entryItself) const {
    const std::string refusal = refusalAt(target, entryItself);
    return refusal.empty() || fail(written, refusal);
}

bool WineFiles::fileExists(std::string_view path) const {
    const auto split = paths_.split(path, false);
    if (!split) return false;
    if (HasWildcard(split->last)) {
        // FindFirstFile lists "." and ".." first in every folder but a drive's root;
        // they are folders, so "*" never names a file there.
        if (!split->driveRoot && WildcardMatch(split->last, ".")) return false;
        // A folder that is not there has no entries to match.
        if (!split->folderFound) return false;
        const auto matches = MatchingEntries(split->folder, split->last);
        return !matches.empty() && KindOf(split->folder / matches.front()) == Kind::File;
    }
    return split->found && KindOf(split->whole) == Kind::File;
}

bool WineFiles::folderExists(std::string_view path) const {
    // A drive's root has no last component to split off.
    if (const auto split = paths_.split(path, false))
        return split->found && KindOf(split->whole) == Kind::Folder;
    const auto resolved = paths_.resolve(path);
    return resolved && KindOf(*resolved) == Kind::Folder;
}

bool WineFiles::createFolder(std::string_view path) const {
    error_.clear();
    const auto resolved = paths_.resolve(path);
    if (!resolved) return fail(path, "names no place of the machine");
    if (!mayChange(path, *resolved, false)) return false;
    const fs::path real = RealLocation(*resolved, true);
    FolderError error;
    const HeldFolder parent = OpenRealFolder(real.parent_path(), false, error);
    if (!parent)
        return fail(path, !error.linkInTheWay && (error.code == ENOENT || error.code == ENOTDIR)
                              ? "its folder is missing"
                              : error.text);
    return parent.makeFolder(real.filename().string(), error) || fail(path, error.text);
}

bool WineFiles::isDrive(const fs::path& target) const {
    return RealLocation(target, true).parent_path() ==
           RealLocation(paths_.prefix() / "dosdevices", false);
}

bool WineFiles::linkExists(std::string_view path) const {
    // A drive (a drive's root has nothing to split off; a Linux path may name its
    // entry in dosdevices) is a link there, but to the machine it is the drive.
    const auto split = paths_.split(path);
    struct stat st {};
    return split && !paths_.isProtected(split->whole) && !isDrive(split->whole) &&
           ::lstat(split->whole.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool WineFiles::makeFolders(std::string_view path) const {
    error_.clear();
    const auto split = paths_.split(path);
    // A drive's root is never made nor replaced: it is there, or no place at all.
    if (!split) return folderExists(path) || fail(path, "names no place of the machine");
    const auto resolved = std::optional<fs::path>(split->whole);
    // A link standing where the folder goes is the entry changed: it must lie inside,
    // what it points to plays no part.
    if (!mayChange(path, *resolved, true)) return false;
    if (paths_.isProtected(*resolved) || isDrive(*resolved))
        return fail(path, "refused, it is a drive or the prefix");
    const fs::path real = RealLocation(*resolved, true);
    FolderError error;
    const HeldFolder parent = OpenRealFolder(real.parent_path(), true, error);
    if (!parent) return fail(path, error.text);
    const std::string name = real.filename().string();
    struct stat st {};
    if (::fstatat(parent.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        if (!S_ISLNK(st.st_mode)) return fail(path, "a file is in the way");
        if (!parent.remove(name, error)) return fail(path, error.text);
    }
    return parent.makeFolder(name, error) || fail(path, error.text);
}

bool WineFiles::removeEntry(std::string_view written, const fs::path& target) const {
    if (!mayChange(written, target, true)) return false;
    if (paths_.isProtected(target)) return fail(written, "refused, it is a drive or the prefix");
    // Taken away inside the folder that was checked; a link goes as a link, never
    // followed out of the tree.
    const fs::path real = RealLocation(target, true);
    FolderError error;
    const HeldFolder folder = OpenRealFolder(real.parent_path(), false, error);
    return (folder && folder.remove(real.filename().string(), error)) || fail(written, error.text);
}

bool WineFiles::remove(std::string_view path) const {
    error_.clear();
    const auto split = paths_.split(path);
    if (!split) return fail(path, "names no place of the machine");
    if (HasWildcard(split->last)) {
        const auto matches = MatchingEntries(split->folder, split->last);
        if (matches.empty()) return fail(path, "nothing matches");
        bool ok = true;
        for (const auto& name : matches)
            ok = removeEntry(path, split->folder / name) && ok;
        return ok;
    }
    if (KindOf(split->whole) == Kind::Missing) return fail(path, "not found");
    return removeEntry(path, split->whole);
}

std::vector<fs::path> WineFiles::removeTargets(std::string_view path) const {
    std::vector<fs::path> targets;
    const auto split = paths_.split(path);
    if (!split) return targets;
    if (HasWildcard(split->last)) {
        for (const auto& name : MatchingEntries(split->folder, split->last))
            if (!paths_.isProtected(split->folder / name)) targets.push_back(split->folder / name);
        return targets;
    }
    const auto resolved = paths_.resolve(path);
    if (resolved && KindOf(*resolved) != Kind::Missing && !paths_.isProtected(*resolved))
        targets.push_back(*resolved);
    return targets;
}

std::vector<fs::path> WineFiles::copyTargets(std::string_view source,
                                             std::string_view destination) const {
    std::vector<fs::path> targets;
    const auto split = paths_.split(source);
    const auto to = paths_.resolve(destination);
    if (!split || !to) return targets;
    std::vector<std::pair<fs::path, fs::path>> pairs;
    if (HasWildcard(split->last)) {
        const Kind there = KindOf(*to);
        if (there != Kind::Missing && there != Kind::Folder) return targets;
        for (const auto& name : MatchingEntries(split->folder, split->last))
            pairs.emplace_back(split->folder / name, *to / name);
    } else if (const auto from = paths_.resolve(source); from && KindOf(*from) != Kind::Missing) {
        pairs.emplace_back(*from, KindOf(*to) == Kind::Folder ? *to / from->filename() : *to);
    }
    for (const auto& [from, target] : pairs) {
        if (Inside(target, from)) continue; // refused whole by the copy
        std::vector<Write> writes;
        std::vector<std::string> failed;
        PlanCopy(from, target, true, writes, failed);
        for (const Write& write : writes)
            targets.push_back(write.to);
    }
    return targets;
}

bool WineFiles::copyEntry(std::string_view destination, const fs::path& from,
                          const fs::path& target) const {
    // A folder copied into itself would never end; a file onto itself is lost.
    if (Inside(target, from)) return fail(destination, "lies inside the source");
    if (!mayChange(destination, target, false)) return false;
    std::vector<Write> writes;
    std::vector<std::string> failed;
    PlanCopy(from, target, true, writes, failed);
    bool ok = true;
    for (const Write& write : writes) {
        // Each entry is checked where it really is, then written inside the folder that
        // was checked; the shell makes the folders the destination needs.
        if (!mayChange(destination, write.to, false)) {
            ok = false;
            continue;
        }
        const fs::path real = RealLocation(write.to, true);
        const std::string name = real.filename().string();
        FolderError error;
        const HeldFolder folder = OpenRealFolder(real.parent_path(), true, error);
        bool done = false;
        if (folder) {
            switch (write.what) {
            case Write::What::File:
                done = folder.writeFile(name, write.from, error);
                break;
            case Write::What::Link:
                done = folder.writeLink(name, write.from, error);
                break;
            case Write::What::Folder:
                done = folder.writeFolder(name, write.from, error);
                break;
            }
        }
        if (!done) ok = fail(destination, error.text);
    }
    for (const std::string& why : failed)
        ok = fail(destination, why);
    return ok;
}

bool WineFiles::copy(std::string_view source, std::string_view destination) const {
    error_.clear();
    const auto split = paths_.split(source);
    const auto to = paths_.resolve(destination);
    if (!split) return fail(source, "names no place of the machine");
    if (!to) return fail(destination, "names no place of the machine");
    if (HasWildcard(split->last)) {
        // Every match goes into the destination folder, made when missing.
        const auto matches = MatchingEntries(split->folder, split->last);
        if (matches.empty()) return fail(source, "nothing matches");
        if (!mayChange(destination, *to, false)) return false;
        if (KindOf(*to) == Kind::Missing) {
            FolderError error;
            if (!OpenRealFolder(RealLocation(*to, true), true, error))
                return fail(destination, error.text);
        }
        if (KindOf(*to) != Kind::Folder) return fail(destination, "is not a folder");
        bool ok = true;
        for (const auto& name : matches) {
            const fs::path from = split->folder / name;
            const Kind kind = KindOf(from);
            const bool done = kind == Kind::Folder || kind == Kind::File
                                  ? copyEntry(destination, from, *to / name)
                                  : fail(source, "not found");
            ok = done && ok;
        }
        return ok;
    }
    const auto from = paths_.resolve(source);
    const Kind kind = from ? KindOf(*from) : Kind::Missing;
    if (kind != Kind::Folder && kind != Kind::File) return fail(source, "not found");
    // An existing folder receives the source inside it; anything else is the copy.
    return copyEntry(destination, *from,
                     KindOf(*to) == Kind::Folder ? *to / from->filename() : *to);
}

} // namespace corvane::wine
