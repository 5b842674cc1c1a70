#include "core/platform/wine/WinePlatform.h"

#include "core/platform/wine/PrefixDiscovery.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace corvane::wine {

namespace {

constexpr std::string_view kNtCurrentVersion = "Software\\Microsoft\\Windows NT\\CurrentVersion";

std::uint32_t LeadingNumber(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 100000000) break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

} // namespace

std::filesystem::path DefaultPrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return std::filesystem::path(home) / ".wine";
}

WineOptions WineOptions::FromProcess() {
    WineOptions options;
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    options.appDir = ec ? std::filesystem::current_path(ec) : exe.parent_path();
    options.tmpDir = ServerRoots::FromProcess().tmpDir;
    if (const char* user = std::getenv("USER"); user && *user) {
        options.unix.userName = user;
    } else if (const passwd* pw = ::getpwuid(::getuid())) {
        options.unix.userName = pw->pw_name;
    } else {
        options.unix.userName = "user";
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    options.unix.hostName = host;
    for (auto& c : options.unix.hostName)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char** env = environ; env && *env; ++env)
        options.unix.environment.emplace_back(*env);
    return options;
}

WinePlatform::WinePlatform(std::filesystem::path prefix, WineOptions options)
    : options_(std::move(options)),
      registry_(prefix, ServerRoots(options_.runUserRoot, options_.tmpRoot, options_.tmpDir)),
      paths_(prefix, options_.appDir), files_(paths_) {}

bool WinePlatform::prefixExists() const {
    std::error_code ec;
    return std::filesystem::is_directory(registry_.prefix(), ec);
}

RegStatus WinePlatform::regOpenKey(RegKey parent, std::string_view path, std::uint32_t access,
                                   RegKey& result, std::uint32_t options) {
    return registry_.openKey(parent, path, access, result, options);
}

RegStatus WinePlatform::regCloseKey(RegKey key) {
    return registry_.closeKey(key);
}

RegStatus WinePlatform::regQueryValue(RegKey key, std::string_view name, std::uint32_t& type,
                                      std::span<std::uint8_t> data, std::uint32_t& size) {
    return registry_.queryValue(key, name, type, data, size);
}

RegStatus WinePlatform::regSetValue(RegKey key, std::string_view name, std::uint32_t type,
                                    std::span<const std::uint8_t> data) {
    return registry_.setValue(key, name, type, data);
}

RegStatus WinePlatform::regDeleteValue(RegKey key, std::string_view name) {
    return registry_.deleteValue(key, name);
}

RegStatus WinePlatform::regQueryInfoKey(RegKey key, std::uint32_t& subKeys,
                                        std::uint32_t& maxSubKeyLen) {
    return registry_.queryInfoKey(key, subKeys, maxSubKeyLen);
}

RegStatus WinePlatform::regEnumKey(RegKey key, std::uint32_t index, std::string& name) {
    return registry_.enumKey(key, index, name);
}

RegStatus WinePlatform::regDeleteKey(RegKey key, std::string_view path) {
    return registry_.deleteKey(key, path);
}

void WinePlatform::beginStep() {
    if (stepDepth_++ == 0) {
        drivesChecked_ = false;
        paths_.beginStep();
    }
    registry_.beginStep();
}

void WinePlatform::endStep() {
    if (stepDepth_ > 0 && --stepDepth_ == 0) paths_.endStep();
    registry_.endStep();
}

std::string WinePlatform::windowsPathOf(const std::string& linuxPath) {
    // A drive added, taken away or pointed elsewhere changes the folder of the drives.
    if (stepDepth_ == 0 || !drivesChecked_) {
        struct stat st {};
        std::array<std::int64_t, 5> now{};
        if (::stat((prefix() / "dosdevices").c_str(), &st) == 0)
            now = {static_cast<std::int64_t>(st.st_ino), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                   st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
        if (now != drives_) windowsPaths_.clear();
        drives_ = now;
        drivesChecked_ = stepDepth_ > 0;
    }
    if (const auto it = windowsPaths_.find(linuxPath); it != windowsPaths_.end()) return it->second;
    std::string windows = paths_.windowsPathOf(linuxPath);
    // A folder changed within the clock's last ticks could change again unseen.
    if (std::time(nullptr) - drives_[1] < 2) return windows;
    if (windowsPaths_.size() >= 64) windowsPaths_.clear();
    windowsPaths_.emplace(linuxPath, windows);
    return windows;
}

MachinePlace WinePlatform::machinePlace() {
    return {prefix().string(), prefixExists()};
}

RegWriteState WinePlatform::regWriteState() {
    return registry_.writeState();
}

std::string WinePlatform::registryError() {
    return registry_.error();
}

std::string WinePlatform::machineError() {
    const std::string folder = prefix().string();
    const std::string noPrefix = "no Wine prefix at " + folder + ": ";
    struct stat st {};
    if (::stat(prefix().c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return noPrefix + folder + " does not exist";
        return noPrefix + "cannot look into " + folder + ": " + std::strerror(error);
    }
    if (!S_ISDIR(st.st_mode)) return noPrefix + folder + " is not a folder";
    // Every file is read (or found missing) before system.reg's absence is told.
    std::string unreadable = registry_.unreadable();
    if (registry_.machineHive().state() == RegHive::State::Missing)
        return noPrefix + registry_.machineHive().file().string() + " is missing";
    return unreadable;
}

const WineEnvironment& WinePlatform::environment() {
    // Built again whenever a registry file was read or written since.
    const std::uint64_t generation = registry_.generation();
    if (!environment_ || generation != environmentGeneration_) {
        environment_ = WineEnvironment::Build(registry_, options_.unix);
        environmentGeneration_ = registry_.generation();
    }
    return *environment_;
}

std::string WinePlatform::expandEnvironment(std::string_view text) {
    return environment().expand(text);
}

std::string WinePlatform::specialFolder(int csidl) {
    std::string_view name;
    switch (csidl) {
    case Csidl::Desktop:
        name = "Desktop";
        break;
    case Csidl::Programs:
        name = "Programs";
        break;
    case Csidl::Personal:
        name = "Personal";
        break;
    case Csidl::Startup:
        name = "Startup";
        break;
    case Csidl::NetHood:
        name = "NetHood";
        break;
    case Csidl::Fonts:
        name = "Fonts";
        break;
    default:
        return {};
    }
    // Looked up again whenever a registry file was read or written since.
    if (const std::uint64_t generation = registry_.generation(); generation != specialGeneration_) {
        specialFolders_.clear();
        specialGeneration_ = generation;
    }
    if (const auto kept = specialFolders_.find(csidl); kept != specialFolders_.end())
        return kept->second;
    std::string folder;
    bool named = false;
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    for (RegKey root : {RootKey::CurrentUser, RootKey::LocalMachine})
        if (auto value = registry_.readString(root, explorer + "Shell Folders", name)) {
            folder = value->text;
            named = true;
            break;
        }
    if (!named)
        for (RegKey root : {RootKey::CurrentUser, RootKey::LocalMachine})
            if (auto value = registry_.readString(root, explorer + "User Shell Folders", name)) {
                folder = environment().expand(value->text);
                break;
            }
    // Reading the registry may itself have read a file afresh.
    if (registry_.generation() == specialGeneration_) specialFolders_[csidl] = folder;
    return folder;
}

WindowsVersion WinePlatform::windowsVersion() {
    WindowsVersion version;
    const auto major =
        registry_.readDword(RootKey::LocalMachine, kNtCurrentVersion, "CurrentMajorVersionNumber");
    const auto minor =
        registry_.readDword(RootKey::LocalMachine, kNtCurrentVersion, "CurrentMinorVersionNumber");
    if (major && minor) {
        version.major = *major;
        version.minor = *minor;
    } else if (auto text = registry_.readString(RootKey::LocalMachine, kNtCurrentVersion,
                                                "CurrentVersion")) {
        const std::string_view v = text->text;
        version.major = LeadingNumber(v);
        if (const auto dot = v.find('.'); dot != std::string_view::npos)
            version.minor = LeadingNumber(v.substr(dot + 1));
    }
    if (auto build =
            registry_.readString(RootKey::LocalMachine, kNtCurrentVersion, "CurrentBuildNumber"))
        version.build = LeadingNumber(build->text);
    if (auto csd = registry_.readString(RootKey::LocalMachine, kNtCurrentVersion, "CSDVersion"))
        version.servicePack = csd->text;
    return version;
}

std::string WinePlatform::shortDateFormat() {
    auto value =
        registry_.readString(RootKey::CurrentUser, "Control Panel\\International", "sShortDate");
    if (!value || value->text.empty()) return "yyyy-MM-dd";
    return value->text;
}

bool WinePlatform::fileExists(std::string_view path) {
    return files_.fileExists(path);
}

bool WinePlatform::folderExists(std::string_view path) {
    return files_.folderExists(path);
}

bool WinePlatform::createFolder(std::string_view path) {
    return files_.createFolder(path);
}

bool WinePlatform::linkExists(std::string_view path) {
    return files_.linkExists(path);
}

bool WinePlatform::makeFolders(std::string_view path) {
    return files_.makeFolders(path);
}

std::string WinePlatform::hostPathOf(std::string_view path) {
    // A drive's root names the drive, not its link in dosdevices: no place to change.
    const auto split = paths_.split(path);
    return split ? split->whole.string() : std::string();
}

bool WinePlatform::shellDelete(std::string_view path) {
    return files_.remove(path);
}

bool WinePlatform::shellCopy(std::string_view source, std::string_view destination) {
    return files_.copy(source, destination);
}

namespace {

std::vector<std::string> Texts(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::string> out;
    for (const auto& path : paths)
        out.push_back(path.string());
    return out;
}

} // namespace

std::vector<std::string> WinePlatform::deleteTargets(std::string_view path) {
    return Texts(files_.removeTargets(path));
}

std::vector<std::string> WinePlatform::copyTargets(std::string_view source,
                                                   std::string_view destination) {
    return Texts(files_.copyTargets(source, destination));
}

RegStatus WinePlatform::regCreateKey(RegKey parent, std::string_view path, RegKey& result,
                                     std::uint32_t options) {
    return registry_.createKey(parent, path, result, options);
}

RegStatus WinePlatform::regEnumValue(RegKey key, std::uint32_t index, std::string& name,
                                     std::uint32_t& type, std::vector<std::uint8_t>& data) {
    return registry_.enumValue(key, index, name, type, data);
}

std::string WinePlatform::fileError() {
    return files_.error();
}

std::string WinePlatform::refusalAt(const std::string& hostPath, bool entryItself) {
    return files_.refusalAt(hostPath, entryItself);
}

} // namespace corvane::wine

namespace corvane {

std::unique_ptr<Platform> MakeDefaultPlatform() {
    return std::make_unique<wine::WinePlatform>(wine::DefaultPrefix());
}

std::vector<MachineChoice> FindMachines(std::vector<std::string>* notes) {
    wine::Discovery found = wine::DiscoverPrefixes(wine::DiscoveryPlaces::FromProcess());
    if (notes) *notes = std::move(found.notes);
    std::vector<MachineChoice> machines;
    for (wine::FoundPrefix& prefix : found.prefixes)
        machines.push_back({std::move(prefix.label), prefix.path.string()});
    return machines;
}

bool MachineExists(const std::string& machinePath) {
    return !machinePath.empty() && wine::IsPrefix(machinePath);
}

std::unique_ptr<Platform> MakePlatformFor(const std::string& machinePath) {
    return std::make_unique<wine::WinePlatform>(machinePath);
}

bool MachineNamedByEnvironment() {
    const char* prefix = std::getenv("WINEPREFIX");
    return prefix && *prefix;
}

} // namespace corvane
