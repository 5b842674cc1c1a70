#include "platform/wine/WinePlatform.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace corvane::wine {

std::filesystem::path DefaultPrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return std::filesystem::path(home) / ".wine";
}

WinePlatform::WinePlatform(std::filesystem::path prefix, std::filesystem::path tmpRoot)
    : registry_(std::move(prefix), std::move(tmpRoot)) {}

bool WinePlatform::prefixExists() const {
    std::error_code ec;
    return std::filesystem::is_directory(registry_.prefix(), ec);
}

RegStatus WinePlatform::regOpenKey(RegKey parent, std::string_view path, std::uint32_t access,
                                   RegKey& result) {
    return registry_.openKey(parent, path, access, result);
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

RegWriteState WinePlatform::regWriteState() {
    return registry_.writeState();
}

} // namespace corvane::wine

namespace corvane {

std::unique_ptr<Platform> MakeDefaultPlatform() {
    return std::make_unique<wine::WinePlatform>(wine::DefaultPrefix());
}

} // namespace corvane
