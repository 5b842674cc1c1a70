// Windows paths inside a Wine prefix, mapped to Linux paths as Wine maps them.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wine {

class WinePaths {
public:
    WinePaths(std::filesystem::path prefix, std::filesystem::path appDir);

    // The Linux path a path names. "X:\..." goes through <prefix>/dosdevices/x:; each
    // component that exists is matched exactly first and then without regard to
    // case, and the rest stay as written. "/" and "\" both separate; "." and ".." are
    // resolved without climbing above the drive's root; trailing dots and spaces of a
    // component are dropped. A path that starts with "/" is a Linux path and is used
    // as it stands (a backslash separates there too); a relative path is taken from
    // the program's folder. UNC paths, devices and unknown drives name nothing.
    std::optional<std::filesystem::path> resolve(std::string_view path) const;

    // A path split for wildcard work: the resolved folder and the last component as
    // written (it may hold * and ?). Without `checkDrive` a path on an unknown drive
    // is split too, and found nowhere.
    struct Split {
        std::filesystem::path folder;
        std::string last;
        std::filesystem::path whole; // what resolve() gives for the path (no wildcard)
        bool found = false;          // every component of `whole` was found (a Linux path: always)
        bool folderFound = false;    // every component of `folder` was
        bool driveRoot = false;      // the folder is a drive's root
    };
    std::optional<Split> split(std::string_view path, bool checkDrive = true) const;

    // True for the places no delete may take away: "/", a drive's root, the prefix.
    // The Windows path of a local path through the drive of <prefix>/dosdevices whose
    // folder holds it most closely, or the empty text when no drive does.
    std::string windowsPathOf(const std::filesystem::path& linuxPath) const;

    bool isProtected(const std::filesystem::path& linuxPath) const;

    // True when `location` (a path made by RealLocation) lies inside the prefix folder,
    // or is that folder. Only such places may be changed by a repair.
    bool insidePrefix(const std::filesystem::path& location) const;
    const std::filesystem::path& prefix() const { return prefix_; }

    const std::filesystem::path& appDir() const { return appDir_; }

    // Within a step (Platform::beginStep) each folder a path goes through is looked at
    // once, and after it only when an inotify watch tells of a change to it (or to the
    // drives): a change made from outside shows from the next step on.
    void beginStep();
    void endStep();
    struct StepFolders;

private:
    struct Parsed {
        std::string base;
        std::vector<std::string> names;
        bool linux = false;
        bool drive = false;
    };
    std::optional<Parsed> parse(std::string_view path, bool checkDrive = true) const;
    // The path of the first `count` names; `reached` says whether every one existed.
    std::string walk(const Parsed& parsed, std::size_t count, bool* reached = nullptr) const;

    std::filesystem::path prefix_;
    std::filesystem::path appDir_;
    std::shared_ptr<StepFolders> step_;
};

// Where `linuxPath` really is: the place the kernel reaches once the missing folders
// on the way are made. The components are walked in order; a link is followed as the
// kernel follows it (at most 40 of them), ".." leaves the real folder reached so far
// (after its links), and a missing component is taken as written, so that a ".." after
// it comes back out of it. With `entryItself`, a last component that is a link stays as
// it stands (taking a link away does not touch what it points to). The result holds no
// link and no "." or ".."; it is empty (inside nothing) when the place cannot be worked
// out: too many links, or a folder that cannot be looked at.
std::filesystem::path RealLocation(const std::filesystem::path& linuxPath, bool entryItself);

bool HasWildcard(std::string_view name);
// `*` and `?` match without regard to case; "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name);
// The entries of `folder` that match `pattern`, ordered as Windows lists them (".."
// and "." are left out).
std::vector<std::string> MatchingEntries(const std::filesystem::path& folder,
                                         std::string_view pattern);

} // namespace corvane::wine
