#include "LibraryGenerator.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace corvane::bench {

std::string Detection(std::uint64_t seed, int n) {
    std::mt19937_64 rng(seed + static_cast<std::uint64_t>(n));
    auto pick = [&](int k) { return static_cast<int>(rng() % static_cast<unsigned>(k)); };
    // printf formats: a percent sign of the path is written twice.
    const char* files[] = {"%%windir%%\\system32\\drivers\\etc\\hosts.bak%d",
                           "<fonts>\\missing%d.ttf", "%%ProgramFiles%%\\Bad Tool %d\\bad.exe",
                           "%%APPDATA%%\\Junk%d\\*.tmp"};
    const char* values[] = {"CurrentBuildNumber", "CSDVersion", "CurrentVersion"};
    char buf[256];
    std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules>"
                      "<type opttype=\"files\" mode=\"or\">";
    for (int i = 0; i < 2; ++i) {
        std::snprintf(buf, sizeof buf, files[pick(4)], n);
        xml += "<CHdb FilePath=\"" + std::string(buf) + "\" isFolder=\"" +
               (pick(4) == 0 ? "1" : "0") + "\" decide=\"file\"/>";
    }
    xml += "</type><type opttype=\"regedit\" mode=\"or\">";
    std::snprintf(buf, sizeof buf, "{BAD%05d-0000-0000-0000-000000000000}", n);
    xml += "<CHdb root=\"HKLM\" KeyPath=\"Software\\Classes\\CLSID\" KeyValue=\"" +
           std::string(buf) +
           "\" KeyType=\"\" compareValue=\"\" decide=\"KeyExists\" PathAbs=\"0\"/>";
    // One item in eight holds on a fresh prefix, so that scans find something.
    const bool holds = n % 8 == 3;
    xml += "<CHdb root=\"HKLM\" KeyPath=\"Software\\Microsoft\\Windows NT\\CurrentVersion\" "
           "KeyValue=\"" +
           std::string(holds ? "CurrentBuildNumber" : values[pick(3)]) +
           "\" KeyType=\"REG_SZ\" compareValue=\"" + (holds ? "7601" : "bad value") +
           "\" decide=\"Value=\" PathAbs=\"0\"/>";
    xml += "<CHdb root=\"HKCU\" KeyPath=\"Software\\Policies\\Bad" + std::to_string(n) +
           "\" KeyValue=\"Enabled\" KeyType=\"REG_DWORD\" compareValue=\"\" decide=\"ValueExists\" "
           "PathAbs=\"0\"/>";
    xml += "</type></rules>";
    return xml;
}

void MakeLibrary(const LibraryLocation& library, int items) {
    CreateRuleDatabase(library);
    const auto db = OpenRuleLibrary(library);
    db->Execute(RuleSql::InsertWinOS("[xp-only]\nName=XP\nOS=[winxp]\n"));
    db->OpenTransaction();
    for (int n = 0; n < items; ++n) {
        RuleItem item;
        item.Name = "规则项目 " + std::to_string(n);
        item.Level = n % 5;
        item.OSId = n % 4 == 0 ? "xp-only" : "all-os";
        item.Des = "一条用于测速的规则";
        item.OptText = Detection(0x5CA11, n);
        item.RepairXML = "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type "
                         "opttype=\"files\"/><type opttype=\"regedit\"/></rules>";
        db->Execute(RuleSql::InsertRule(library.table, item));
    }
    db->CommitTransaction();
}

void MakeRepeatedLibrary(const LibraryLocation& library, const RulePack& pack, int items) {
    RulePack repeated;
    repeated.platforms = pack.platforms;
    for (int n = 0; n < items && !pack.items.empty(); ++n) {
        RuleItem item = pack.items[static_cast<std::size_t>(n) % pack.items.size()];
        item.Name += " #" + std::to_string(n);
        repeated.items.push_back(std::move(item));
    }
    CreateRuleDatabase(library);
    ImportRuleLibrary(library, repeated);
}

} // namespace corvane::bench
