// The speed goals in one run: each figure against its goal, as a ratio where 1.00 is
// the goal and below it is met (times: measured / goal; throughput: goal / measured).
//
// Makes its own libraries (the starter pack, and 1,000, 10,000 and 100,000 generated
// items), a copy of the demo prefix and a fresh prefix (a generated system.reg), and
// times whole corvane-cli processes, medians of several runs. The derived-key cache is
// a folder of its own, warmed by a first run, as on a machine where corvane ran before.
//
//   goals_bench [CORVANE-CLI]   (default: the one built beside it)
// With CORVANE_BENCH_KEEP set, the libraries and prefixes are kept for a profiler.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "LibraryGenerator.h"
#include "RegGenerator.h"
#include "core/platform/wine/RegHive.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/run/ScanRepair.h"
#include "core/store/RuleLibrary.h"
#include "core/store/RulePack.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    double ms = 0;
    double peakMiB = 0;
    int exitCode = -1;
};

// One whole process, its output thrown away.
Run Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Run run;
    run.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The median time and the largest peak of `runs` runs after one warm-up run.
Run Median(const std::vector<std::string>& args, int runs,
           const std::function<void()>& before = {}) {
    if (before) before();
    const Run warm = Spawn(args);
    std::vector<double> times;
    double peak = 0;
    for (int i = 0; i < runs; ++i) {
        if (before) before();
        const Run r = Spawn(args);
        times.push_back(r.ms);
        peak = std::max(peak, r.peakMiB);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], peak, warm.exitCode};
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void MakeFreshPrefix(const fs::path& prefix) {
    fs::create_directories(prefix / "drive_c/windows/Fonts");
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    std::ofstream(prefix / "system.reg", std::ios::binary)
        << bench::GenerateSystemReg(1700000).text;
}

void CopyPrefix(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::remove_all(to, ec);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

void Line(const char* what, double measured, const char* unit, double goal, double ratio) {
    std::printf("  %-52s %9.1f %-5s goal %7.1f %-5s ratio %5.2f %s\n", what, measured, unit, goal,
                unit, ratio, ratio <= 1.0 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    const std::string cli = argc > 1 ? argv[1] : CORVANE_CLI;
    char tmpl[] = "/tmp/corvane-goals-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 2;
    const fs::path root = tmpl;
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    // The repairs' journals and lock folders go below the root, and with it.
    ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    fs::create_directories(root / "tmp");
    ::setenv("TMPDIR", (root / "tmp").c_str(), 1);

    std::printf("making the libraries and prefixes in %s ...\n", root.c_str());
    const fs::path demoSource = fs::path(CORVANE_SOURCE_DIR) / "data/demo-prefix";
    const fs::path demo = root / "demo", fresh = root / "fresh";
    CopyPrefix(demoSource, demo);
    MakeFreshPrefix(fresh);
    LibraryLocation starter;
    starter.file = (root / "starter.db").string();
    CreateRuleDatabase(starter);
    ImportRuleLibrary(starter,
                      ReadRulePack(ReadText(fs::path(CORVANE_SOURCE_DIR) / "rules/starter.xml")));
    // The starter items over and over under new names, as a large library of real items.
    LibraryLocation repeated;
    repeated.file = (root / "repeated10000.db").string();
    bench::MakeRepeatedLibrary(
        repeated, ReadRulePack(ReadText(fs::path(CORVANE_SOURCE_DIR) / "rules/starter.xml")),
        10000);
    std::vector<LibraryLocation> generated;
    for (const int items : {1000, 10000, 100000}) {
        LibraryLocation lib;
        lib.file = (root / ("lib" + std::to_string(items) + ".db")).string();
        bench::MakeLibrary(lib, items);
        generated.push_back(lib);
    }

    // The demo items to repair: what the scan finds there.
    std::vector<std::string> repairIds;
    {
        wine::WinePlatform platform(demo);
        PlatformScope scope(platform);
        RunInputs inputs = InputsBeside((root / "app/").string());
        inputs.library = starter;
        ScanEvents events;
        events.found = [&](const ScanFinding& f) { repairIds.push_back(f.id); };
        RunScan(inputs, events);
    }

    const auto regRead = [&](const fs::path& prefix) {
        return std::vector<std::string>{cli,
                                        "reg",
                                        "--prefix",
                                        prefix.string(),
                                        "read",
                                        "HKLM",
                                        "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                        "CurrentBuildNumber",
                                        "REG_SZ"};
    };
    const auto scan = [&](const fs::path& prefix, const std::string& library) {
        return std::vector<std::string>{cli,         "scan", "--prefix", prefix.string(),
                                        "--library", library};
    };

    std::printf("corvane-cli: %s\n", cli.c_str());
    const Run readDemo = Median(regRead(demo), 21);
    const Run scanDemo = Median(scan(demo, starter.file), 21);
    const Run readFresh = Median(regRead(fresh), 21);
    const Run scan1k = Median(scan(fresh, generated[0].file), 11);
    const Run scan10k = Median(scan(fresh, generated[1].file), 11);
    const Run scanRepeated = Median(scan(fresh, repeated.file), 11);
    const Run scan100k = Median(scan(fresh, generated[2].file), 5);
    std::vector<std::string> repair{cli,           "repair",    "--prefix",
                                    demo.string(), "--library", starter.file};
    repair.insert(repair.end(), repairIds.begin(), repairIds.end());
    // The repair syncs its journal and the registry files: the libraries and prefixes
    // this bench wrote go to disk first, so that their writeback is not in its figure.
    ::sync();
    const Run repairDemo = Median(repair, 11, [&] { CopyPrefix(demoSource, demo); });

    // The window's start-up work that grows with the library: opening it and counting.
    std::vector<double> counts;
    for (int i = 0; i < 7; ++i) {
        const auto t0 = Clock::now();
        (void)CountRules(generated[2], [](const std::string&) {});
        counts.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(counts.begin(), counts.end());
    constexpr double kBareWindowMs = 23; // a bare Qt window, start to first shown

    // Loading a fresh prefix's system.reg, from memory.
    const std::string reg = bench::GenerateSystemReg(1700000).text;
    std::vector<double> loads;
    for (int i = 0; i < 21; ++i) {
        wine::RegHive hive(root / "none.reg");
        const auto t0 = Clock::now();
        hive.loadText(reg);
        loads.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(loads.begin(), loads.end());
    const double mbs = static_cast<double>(reg.size()) / 1e6 / loads[loads.size() / 2];

    std::printf("\n  reg read, demo prefix %.1f ms; fresh prefix %.1f ms (floors)\n", readDemo.ms,
                readFresh.ms);
    std::printf("  scan, 1,000 items, fresh prefix %.1f ms (%.1fx reg read)\n\n", scan1k.ms,
                scan1k.ms / readFresh.ms);
    // Each whole-process figure also as a multiple of reg read on the same prefix, with
    // its goal where there is one.
    const auto timed = [&](const char* what, const Run& run, double goalMs, double floorMs,
                           double goalTimes = 0) {
        Line(what, run.ms, "ms", goalMs, run.ms / goalMs);
        const double times = run.ms / floorMs;
        if (goalTimes > 0)
            Line("  the same against reg read there", times, "x", goalTimes, times / goalTimes);
        else
            std::printf("  %-52s %9.1f x\n", "  the same against reg read there", times);
    };
    timed("scan, starter library, demo prefix", scanDemo, 2 * readDemo.ms, readDemo.ms);
    timed("scan, 10,000 starter items repeated, fresh prefix", scanRepeated, 100, readFresh.ms, 7);
    timed("scan, 10,000 generated items, fresh prefix", scan10k, 100, readFresh.ms, 7);
    timed("scan, 100,000 generated items", scan100k, 800, readFresh.ms);
    Line("scan, 100,000 items, peak memory", scan100k.peakMiB, "MiB", 40, scan100k.peakMiB / 40);
    const double window = kBareWindowMs + counts[counts.size() / 2];
    Line("window, 100,000 items (23 ms bare window + count)", window, "ms", 100, window / 100);
    Line("loading a fresh prefix's system.reg", mbs, "MB/s", 600, 600 / mbs);
    timed("repairing the demo items (whole process)", repairDemo, 30, readDemo.ms);
    std::printf("  (%zu demo items repaired; scans exit %d %d %d %d)\n", repairIds.size(),
                scanDemo.exitCode, scanRepeated.exitCode, scan10k.exitCode, scan100k.exitCode);

    if (std::getenv("CORVANE_BENCH_KEEP")) {
        std::printf("kept: %s\n", root.c_str());
        return 0;
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
