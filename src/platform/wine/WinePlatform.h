// The platform on Linux: the machine is a Wine prefix.
#pragma once

#include <filesystem>

#include "platform/Platform.h"
#include "platform/wine/WineRegistry.h"

namespace corvane::wine {

// $WINEPREFIX when set, else ~/.wine, as for every Wine tool.
std::filesystem::path DefaultPrefix();

class WinePlatform : public Platform {
public:
    // `tmpRoot` is where wineservers keep their folders; tests may name another.
    explicit WinePlatform(std::filesystem::path prefix, std::filesystem::path tmpRoot = "/tmp");

    const std::filesystem::path& prefix() const { return registry_.prefix(); }
    bool prefixExists() const;
    WineRegistry& registry() { return registry_; }

    RegStatus regOpenKey(RegKey parent, std::string_view path, std::uint32_t access,
                         RegKey& result) override;
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
    RegWriteState regWriteState() override;

private:
    WineRegistry registry_;
};

} // namespace corvane::wine
