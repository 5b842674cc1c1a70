// The starter library at work on the demo prefix, as a newcomer meets it: making the
// library from the pack (what the build does), a scan, the repair of every item found
// and the scan after it. Medians of several rounds, each on a fresh copy.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/platform/wine/WinePlatform.h"
#include "core/run/ScanRepair.h"
#include "core/store/RuleLibrary.h"
#include "core/store/RulePack.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 9;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<ScanFinding> Scan(const RunInputs& inputs) {
    std::vector<ScanFinding> found;
    ScanEvents events;
    events.found = [&](const ScanFinding& f) { found.push_back(f); };
    RunScan(inputs, events);
    return found;
}

} // namespace

int main() {
    const fs::path source = CORVANE_SOURCE_DIR;
    std::ifstream in(source / "rules/starter.xml", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();

    std::vector<double> read, make, scan, repair, rescan;
    std::size_t items = 0, found = 0;
    for (int round = 0; round < kRounds; ++round) {
        char tmpl[] = "/tmp/corvane-starter-bench-XXXXXX";
        if (!::mkdtemp(tmpl)) return 2;
        const fs::path root = tmpl;
        fs::copy(source / "data/demo-prefix", root / "prefix",
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::create_directory(root / "app");
        {
            wine::WinePlatform platform(root / "prefix");
            PlatformScope scope(platform);
            const RunInputs inputs = InputsBeside((root / "app").string() + "/");

            auto t0 = Clock::now();
            const RulePack pack = ReadRulePack(text.str());
            auto t1 = Clock::now();
            CreateRuleDatabase(inputs.library);
            ImportRuleLibrary(inputs.library, pack);
            auto t2 = Clock::now();
            const auto findings = Scan(inputs);
            auto t3 = Clock::now();
            std::vector<RepairRow> rows;
            for (const auto& f : findings)
                rows.push_back({rows.size(), f.id});
            RunRepair(inputs, rows, {});
            auto t4 = Clock::now();
            const auto left = Scan(inputs);
            auto t5 = Clock::now();
            if (!left.empty()) std::fprintf(stderr, "the repair left %zu items\n", left.size());
            items = pack.items.size();
            found = findings.size();
            read.push_back(Ms(t1 - t0));
            make.push_back(Ms(t2 - t1));
            scan.push_back(Ms(t3 - t2));
            repair.push_back(Ms(t4 - t3));
            rescan.push_back(Ms(t5 - t4));
        }
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::printf("starter library (%zu items) on the demo prefix (%zu found), medians of %d\n",
                items, found, kRounds);
    std::printf("  read the pack          %7.2f ms\n", Median(read));
    std::printf("  make the library       %7.2f ms\n", Median(make));
    std::printf("  scan                   %7.2f ms\n", Median(scan));
    std::printf("  repair all found       %7.2f ms   (%.2f ms per item)\n", Median(repair),
                Median(repair) / static_cast<double>(found ? found : 1));
    std::printf("  scan again             %7.2f ms\n", Median(rescan));
    return 0;
}
