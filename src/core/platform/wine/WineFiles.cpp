#include "core/platform/wine/WineFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace corvane::wine {

namespace {

enum class Kind { Missing, File, Folder, Link };

// What a path is, links followed; a link whose target is missing is a Link.
Kind KindOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Kind::Missing;
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) return Kind::Link;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::File;
}

bool IsLink(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool Inside(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    std::error_code ec;
    const auto a = std::filesystem::weakly_canonical(inner, ec);
    const auto b = std::filesystem::weakly_canonical(outer, ec);
    const auto [end, unused] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return end == b.end();
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool CopyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        return false;
    }
    std::string tmpl = (to.parent_path() / ("." + to.filename().string() + ".XXXXXX")).string();
    const int out = ::mkstemp(tmpl.data());
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(out, buf, static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    ok = ok && ::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0;
    if (::close(out) != 0) ok = false;
    // A folder in the way is not replaced: rename() refuses it.
    if (ok && ::rename(tmpl.c_str(), to.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}

bool CopyTree(const std::filesystem::path& from, const std::filesystem::path& to,
              const std::function<bool(const std::filesystem::path&)>& allowed) {
    std::error_code ec;
    if (!allowed(to)) return false;
    const Kind there = KindOf(to);
    if (there == Kind::File) return false;
    if (there == Kind::Missing && !std::filesystem::create_directory(to, ec)) return false;
    bool ok = true;
    for (const auto& entry : std::filesystem::directory_iterator(from, ec)) {
        const auto target = to / entry.path().filename();
        std::error_code inner;
        if (entry.is_symlink(inner)) {
            std::filesystem::remove(target, inner);
            std::filesystem::copy_symlink(entry.path(), target, inner);
            ok = ok && !inner;
        } else if (entry.is_directory(inner)) {
            ok = CopyTree(entry.path(), target, allowed) && ok;
        } else if (entry.is_regular_file(inner)) {
            ok = allowed(target) && CopyFileAtomically(entry.path(), target) && ok;
        } else {
            ok = false; // devices, pipes and sockets are not copied
        }
    }
    return ok && !ec;
}

bool WineFiles::fail(std::string_view written, std::string_view why) const {
    error_ = std::string(written) + ": " + std::string(why);
    return false;
}

std::string WineFiles::refusalAt(const std::filesystem::path& target, bool entryItself) const {
    const auto real = RealLocation(target, entryItself);
    if (paths_.insidePrefix(real)) return {};
    return "refused, it lies outside the prefix " + paths_.prefix().string() + " (at " +
           (real.empty() ? target : real).string() + ")";
}

bool WineFiles::mayChange(std::string_view written, const std::filesystem::path& target,
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
    if (KindOf(resolved->parent_path()) != Kind::Folder) return fail(path, "its folder is missing");
    if (::mkdir(resolved->c_str(), 0777) == 0) return true;
    return fail(path, std::error_code(errno, std::generic_category()).message());
}

bool WineFiles::removeEntry(std::string_view written, const std::filesystem::path& target) const {
    if (!mayChange(written, target, true)) return false;
    if (paths_.isProtected(target)) return fail(written, "refused, it is a drive or the prefix");
    std::error_code ec;
    // remove_all takes links away as links: it never follows one out of the tree.
    if (IsLink(target) || KindOf(target) == Kind::File)
        std::filesystem::remove(target, ec);
    else
        std::filesystem::remove_all(target, ec);
    return ec ? fail(written, ec.message()) : true;
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

std::vector<std::filesystem::path> WineFiles::removeTargets(std::string_view path) const {
    std::vector<std::filesystem::path> targets;
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

std::vector<std::filesystem::path> WineFiles::copyTargets(std::string_view source,
                                                          std::string_view destination) const {
    std::vector<std::filesystem::path> targets;
    const auto split = paths_.split(source);
    const auto to = paths_.resolve(destination);
    if (!split || !to) return targets;
    if (HasWildcard(split->last)) {
        for (const auto& name : MatchingEntries(split->folder, split->last))
            targets.push_back(*to / name);
        return targets;
    }
    const auto from = paths_.resolve(source);
    if (!from || KindOf(*from) == Kind::Missing) return targets;
    targets.push_back(KindOf(*to) == Kind::Folder ? *to / from->filename() : *to);
    return targets;
}

bool WineFiles::copy(std::string_view source, std::string_view destination) const {
    error_.clear();
    const auto split = paths_.split(source);
    const auto to = paths_.resolve(destination);
    if (!split) return fail(source, "names no place of the machine");
    if (!to) return fail(destination, "names no place of the machine");
    const auto allowed = [&](const std::filesystem::path& target) {
        return mayChange(destination, target, false);
    };
    std::error_code ec;
    auto copyOne = [&](const std::filesystem::path& from, const std::filesystem::path& target) {
        const Kind kind = KindOf(from);
        if (kind != Kind::Folder && kind != Kind::File) return fail(source, "not found");
        // A folder copied into itself would never end; a file onto itself is lost.
        if (Inside(target, from)) return fail(destination, "lies inside the source");
        if (!allowed(target)) return false;
        // The shell makes the folders the destination needs.
        std::filesystem::create_directories(target.parent_path(), ec);
        const bool ok = kind == Kind::Folder ? CopyTree(from, target, allowed)
                                             : CopyFileAtomically(from, target);
        return ok || !error_.empty() ? ok : fail(destination, "could not be written");
    };
    if (HasWildcard(split->last)) {
        // Every match goes into the destination folder.
        const auto matches = MatchingEntries(split->folder, split->last);
        if (matches.empty()) return fail(source, "nothing matches");
        if (!allowed(*to)) return false;
        if (KindOf(*to) == Kind::Missing) std::filesystem::create_directories(*to, ec);
        if (KindOf(*to) != Kind::Folder) return fail(destination, "is not a folder");
        bool ok = true;
        for (const auto& name : matches)
            ok = copyOne(split->folder / name, *to / name) && ok;
        return ok;
    }
    const auto from = paths_.resolve(source);
    if (!from || KindOf(*from) == Kind::Missing) return fail(source, "not found");
    // An existing folder receives the source inside it; anything else is the copy.
    const auto target = KindOf(*to) == Kind::Folder ? *to / from->filename() : *to;
    return copyOne(*from, target);
}

} // namespace corvane::wine
