// What the repair journal costs: per repaired item of the demo prefix (the twelve planted
// items repaired with the journal against the same repair documents run without one),
// and per MB of a deleted file (moved into the journal against a plain delete).
// Medians of several rounds, each on a fresh copy of the demo prefix.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/engine/RuleTriggered.h"
#include "core/engine/RunRepairXML.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/run/Journal.h"
#include "core/run/ScanRepair.h"
#include "core/store/RuleLibrary.h"
#include "core/store/RulePack.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 7;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

fs::path FreshRoot(const fs::path& source) {
    char tmpl[] = "/tmp/corvane-journal-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) std::exit(2);
    const fs::path root = tmpl;
    fs::copy(source / "data/demo-prefix", root / "prefix",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::create_directory(root / "app");
    return root;
}

} // namespace

int main() {
    const fs::path source = CORVANE_SOURCE_DIR;
    std::ifstream in(source / "rules/starter.xml", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const RulePack pack = ReadRulePack(text.str());

    std::vector<double> with, without, moved, deleted;
    std::size_t items = 0;
    constexpr int kMb = 64;
    for (int round = 0; round < kRounds; ++round) {
        for (const bool journaled : {true, false}) {
            const fs::path root = FreshRoot(source);
            wine::WinePlatform platform(root / "prefix");
            PlatformScope scope(platform);
            RunInputs inputs = InputsBeside((root / "app").string() + "/");
            inputs.journalRoot = (root / "journal").string();
            CreateRuleDatabase(inputs.library);
            ImportRuleLibrary(inputs.library, pack);
            std::vector<ScanFinding> found;
            ScanEvents events;
            events.found = [&](const ScanFinding& f) { found.push_back(f); };
            RunScan(inputs, events);
            items = found.size();
            const auto t0 = Clock::now();
            if (journaled) {
                std::vector<RepairRow> rows;
                for (const auto& f : found)
                    rows.push_back({rows.size(), f.id});
                RunRepair(inputs, rows, {});
                with.push_back(Ms(Clock::now() - t0));
            } else {
                // The same documents and checks, without the journal (and without the
                // library's per-item query, which costs the same both ways).
                for (const auto& f : found)
                    for (const RuleItem& item : pack.items)
                        if (item.Name == f.name) {
                            (void)RunRepairXML(item.RepairXML, inputs.appDir);
                            (void)RuleTriggered(item.OptText, inputs.appDir);
                        }
                without.push_back(Ms(Clock::now() - t0));
            }
            fs::remove_all(root);
        }
        // A large file: moved into the journal, or deleted.
        for (const bool journaled : {true, false}) {
            const fs::path root = FreshRoot(source);
            {
                std::ofstream big(root / "prefix/drive_c/big.bin", std::ios::binary);
                const std::string mb(1 << 20, 'x');
                for (int i = 0; i < kMb; ++i)
                    big << mb;
            }
            wine::WinePlatform platform(root / "prefix");
            PlatformScope scope(platform);
            const std::string doc = "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules>"
                                    "<type opttype=\"files\"><CHdb FilePath=\"C:\\big.bin\" "
                                    "FromPath=\"\" decide=\"delete\"/></type></rules>";
            const auto t0 = Clock::now();
            if (journaled) {
                Journal journal(root / "journal", root / "prefix");
                std::string error;
                auto recorder = journal.beginItem(journal.beginRun(), "1", "big", 0, error);
                (void)RunRepairXML(doc, "/", recorder.get());
                (void)recorder->finish("修复成功", false);
                moved.push_back(Ms(Clock::now() - t0));
            } else {
                (void)RunRepairXML(doc, "/");
                deleted.push_back(Ms(Clock::now() - t0));
            }
            fs::remove_all(root);
        }
    }
    const double perItem = (Median(with) - Median(without)) / static_cast<double>(items);
    std::printf("journal bench (medians of %d rounds)\n", kRounds);
    std::printf("  repair of the %zu demo items: %.1f ms with the journal, %.1f ms without: "
                "%.2f ms a repaired item\n",
                items, Median(with), Median(without), perItem);
    std::printf("  a %d MB file: %.2f ms moved into the journal, %.2f ms deleted: %.3f ms a MB\n",
                kMb, Median(moved), Median(deleted), (Median(moved) - Median(deleted)) / kMb);
    return 0;
}
