#include "core/platform/Platform.h"

namespace corvane {

namespace {
Platform* g_active = nullptr;
std::unique_ptr<Platform> g_default;
} // namespace

bool IsRootKey(RegKey key) {
    return key == RootKey::ClassesRoot || key == RootKey::CurrentUser ||
           key == RootKey::LocalMachine || key == RootKey::Users || key == RootKey::CurrentConfig;
}

Platform& ActivePlatform() {
    if (g_active) return *g_active;
    if (!g_default) g_default = MakeDefaultPlatform();
    return *g_default;
}

PlatformScope::PlatformScope(Platform& platform) : previous_(g_active) {
    g_active = &platform;
}

PlatformScope::~PlatformScope() {
    g_active = previous_;
}

} // namespace corvane
