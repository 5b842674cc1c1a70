// Rule pack benchmarks: checking and importing a pack whose items are spread over many
// platform groups. Both must grow with the pack's size, not with items × groups².
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/engine/RuleDocument.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RulePack.h"

using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

RulePack MakePack(int groups, int items) {
    RulePack pack;
    std::string platforms;
    for (int g = 0; g < groups; ++g)
        platforms += "[group" + std::to_string(g) + "]\nName=Group " + std::to_string(g) +
                     "\nOS=[winxp][win7];6.1.7601.Service Pack 1\n";
    pack.platforms = platforms;
    DetectionRows detection;
    detection.files.push_back({"%windir%\\bad.txt", "0", "file"});
    RepairRows repair;
    repair.files.push_back({"%windir%\\bad.txt", "", "delete"});
    RuleItem item;
    item.Level = 1;
    (void)WriteDetectionDocument(detection, item.OptText);
    (void)WriteRepairDocument(repair, item.RepairXML);
    for (int i = 0; i < items; ++i) {
        item.Name = "item " + std::to_string(i);
        item.OSId = "GROUP" + std::to_string(i % groups);
        pack.items.push_back(item);
    }
    return pack;
}

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

} // namespace

int main() {
    const auto dir = std::filesystem::temp_directory_path() / "corvane-pack-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::printf("%8s %8s %12s %12s %14s\n", "groups", "items", "check ms", "import ms",
                "group test ms");
    for (const int groups : {1000, 2000, 4000}) {
        const int items = 2 * groups;
        const RulePack pack = MakePack(groups, items);
        auto start = Clock::now();
        const auto problems = CheckRulePack(pack);
        const double check = Ms(start);
        const LibraryLocation library{(dir / ("lib" + std::to_string(groups) + ".db")).string()};
        start = Clock::now();
        ImportNewRuleLibrary(library, pack);
        const double import = Ms(start);
        // The scan's test of every item's group against the running release.
        const IniDocument parsed = ReadPlatformGroups(*pack.platforms);
        const RunningRelease release{"[win7]", "6.1.7601.Service Pack 1"};
        start = Clock::now();
        int applies = 0;
        for (const RuleItem& item : pack.items)
            applies += PlatformGroupApplies(item.OSId, parsed, release) ? 1 : 0;
        const double filter = Ms(start);
        std::printf("%8d %8d %12.1f %12.1f %14.1f%s\n", groups, items, check, import, filter,
                    problems.empty() && applies == items ? "" : "  (unexpected result)");
    }
    std::filesystem::remove_all(dir);
}
