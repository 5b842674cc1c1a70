// The platform on Linux: the machine is a Wine prefix.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "core/platform/Platform.h"
#include "core/platform/wine/WineEnvironment.h"
#include "core/platform/wine/WineFiles.h"
#include "core/platform/wine/WinePaths.h"
#include "core/platform/wine/WineRegistry.h"

namespace corvane::wine {

// $WINEPREFIX when set, else ~/.wine, as for every Wine tool.
std::filesystem::path DefaultPrefix();

// What the platform takes from the process that runs it; tests set their own.
struct WineOptions {
    // Where wineservers keep their folders (see ServerRoots): /tmp, $TMPDIR (empty:
    // the same as tmpRoot) and the users' runtime folders.
    std::filesystem::path tmpRoot = "/tmp";
    std::filesystem::path tmpDir;
    std::filesystem::path runUserRoot = "/run/user";
    std::filesystem::path appDir; // the program's folder
    UnixSide unix;

    // The running process's folder, user, host name and environment.
    static WineOptions FromProcess();
};

class WinePlatform : public Platform {
public:
    explicit WinePlatform(std::filesystem::path prefix,
                          WineOptions options = WineOptions::FromProcess());

    const std::filesystem::path& prefix() const { return registry_.prefix(); }
    bool prefixExists() const;
    WineRegistry& registry() { return registry_; }
    const WinePaths& paths() const { return paths_; }

    RegStatus regOpenKey(RegKey parent, std::string_view path, std::uint32_t access, RegKey& result,
                         std::uint32_t options = 0) override;
    RegStatus regCloseKey(RegKey key) override;
    RegStatus regQueryValue(RegKey key, std::string_view name, std::uint32_t& type,
                            std::span<std::uint8_t> data, std::uint32_t& size) override;
    RegStatus regSetValue(RegKey key, std::string_view name, std::uint32_t type,
                          std::span<const std::uint8_t> data) override;
    RegStatus regDeleteValue(RegKey key, std::string_view name) override;
    RegStatus regQueryInfoKey(RegKey key, std::uint32_t& subKeys,
                              std::uint32_t& maxSubKeyLen) override;
    RegStatus regEnumKey(RegKey key, std::uint32_t index, std::string& name) override;
    RegStatus regDeleteKey(RegKey key, std::string_view path) override;
    RegStatus regCreateKey(RegKey parent, std::string_view path, RegKey& result,
                           std::uint32_t options = 0) override;
    RegStatus regEnumValue(RegKey key, std::uint32_t index, std::string& name, std::uint32_t& type,
                           std::vector<std::uint8_t>& data) override;
    RegWriteState regWriteState() override;
    MachinePlace machinePlace() override;
    std::string registryError() override;
    std::string machineError() override;

    std::string expandEnvironment(std::string_view text) override;
    std::string specialFolder(int csidl) override;
    std::string windowsPathOf(const std::string& linuxPath) override;
    WindowsVersion windowsVersion() override;
    std::string shortDateFormat() override;

    bool fileExists(std::string_view path) override;
    bool folderExists(std::string_view path) override;
    bool createFolder(std::string_view path) override;
    bool linkExists(std::string_view path) override;
    bool makeFolders(std::string_view path) override;
    std::string hostPathOf(std::string_view path) override;
    bool shellDelete(std::string_view path) override;
    bool shellCopy(std::string_view source, std::string_view destination) override;
    std::vector<std::string> deleteTargets(std::string_view path) override;
    std::vector<std::string> copyTargets(std::string_view source,
                                         std::string_view destination) override;
    void beginStep() override;
    void endStep() override;
    void beginBatch() override { registry_.beginBatch(); }
    bool endBatch() override { return registry_.endBatch(); }
    void cancelBatch() override { registry_.cancelBatch(); }
    void beginHold() override { registry_.beginHold(); }
    void endHold() override { registry_.endHold(); }
    void letGo() override { registry_.letGo(); }
    std::string fileError() override;
    std::string refusalAt(const std::string& hostPath, bool entryItself) override;

    const WineEnvironment& environment();

private:
    WineOptions options_;
    WineRegistry registry_;
    WinePaths paths_;
    WineFiles files_;
    std::optional<WineEnvironment> environment_;
    std::uint64_t environmentGeneration_ = 0;
    // The special folders looked up since the registry was last read or written.
    std::unordered_map<int, std::string> specialFolders_;
    std::uint64_t specialGeneration_ = 0;
    // The Windows paths of local paths, worked out while the drives stay as they were:
    // dosdevices as it was when `drives_` was taken. Within a step the drives are
    // looked at once.
    std::unordered_map<std::string, std::string> windowsPaths_;
    std::array<std::int64_t, 5> drives_{};
    bool drivesChecked_ = false;
    int stepDepth_ = 0;
};

} // namespace corvane::wine
