// Registry benchmarks: loading a prefix's system.reg, one write through RegCommon, the
// memory a loaded file takes, and a value set among many entries of one name.
//
// The files are generated with a fixed seed to look like the system.reg of a fresh
// Wine 8 prefix: once at its usual size, once at about 50 MB. Figures are reported
// against the goals; a missed goal is reported, not treated as a failure.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "RegGenerator.h"
#include "core/engine/RegCommon.h"
#include "core/platform/Platform.h"
#include "core/platform/wine/RegHive.h"
#include "core/platform/wine/WinePlatform.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

// ---- Measuring ------------------------------------------------------------------

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field)) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

bool TouchOne(wine::RegHive& hive) {
    wine::RegNode* node = &hive.root();
    for (std::u16string_view name : {u"Software", u"Microsoft", u"Windows NT", u"CurrentVersion"})
        if (!(node = node->findChild(name))) return false;
    return hive.findValue(*node, u"CurrentBuildNumber").has_value();
}

struct Counts {
    std::size_t keys = 0, sections = 0, values = 0;
};

// Reads every value of every key: values are parsed when a key is first asked for them.
void ReadAll(wine::RegHive& hive, wine::RegNode& node, Counts& n) {
    for (auto& child : node.children) {
        ++n.keys;
        if (child->section) {
            ++n.sections;
            hive.findValue(*child, u"");
            for (const auto& item : child->section->items)
                n.values += item.kind == wine::RegItem::Kind::Value;
        }
        ReadAll(hive, *child, n);
    }
}

// One load, timed; the tree is freed after the clock stopped.
double TimeLoad(const fs::path& file, bool readAll, Counts& n) {
    const auto t0 = Clock::now();
    auto hive = std::make_unique<wine::RegHive>(file);
    hive->refresh();
    const bool found = TouchOne(*hive);
    n = {};
    if (readAll) ReadAll(*hive, hive->root(), n);
    const double t = Since(t0);
    if (!found || hive->state() != wine::RegHive::State::Loaded)
        std::fprintf(stderr, "reg_bench: %s did not load\n", file.c_str());
    return t;
}

// Run in a child process: the peak resident memory a load adds, in kB.
int LoadPeakChild(const char* file, bool readAll) {
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak counts from here
    const long before = StatusKb("VmRSS:");
    wine::RegHive hive(file);
    hive.refresh();
    TouchOne(hive);
    Counts n;
    if (readAll) ReadAll(hive, hive.root(), n);
    std::printf("%ld\n", StatusKb("VmHWM:") - before);
    return 0;
}

double LoadPeakMb(const fs::path& file, bool readAll) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::execl("/proc/self/exe", "reg_bench", "--load-peak", file.c_str(),
                readAll ? "all" : "lazy", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char buf[64] = {};
    const ssize_t got = pid > 0 ? ::read(fds[0], buf, sizeof buf - 1) : -1;
    ::close(fds[0]);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    return got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::atol(buf) / 1024.0 : -1;
}

struct WriteTimes {
    double write = 0, plain = 0;
    bool ok = true;
};

// WriteRegValue on the prefix (the file is written whole, atomically) against writing
// the same bytes once with write() and fsync().
WriteTimes TimeWrite(const fs::path& prefix, int runs) {
    WriteTimes r;
    wine::WinePlatform platform(prefix);
    PlatformScope scope(platform);
    const char* const nt = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    const char* const env = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
    std::string text;
    // Loads system.reg, so that the writes below find it read.
    r.ok = ReadRegValueText(RootKey::LocalMachine, nt, "CurrentBuildNumber", "REG_SZ", text) &&
           text == "7601";
    std::vector<double> times;
    std::string data;
    for (int i = 0; i < runs; ++i) {
        data = "run " + std::to_string(i);
        const auto t0 = Clock::now();
        r.ok &= WriteRegValue(RootKey::LocalMachine, env, "CORVANE_BENCH", "REG_SZ", data);
        times.push_back(Since(t0));
    }
    r.write = Median(times);

    std::ifstream in(prefix / "system.reg", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    // Only a write that reached the file counts (a key that is missing writes nothing).
    r.ok &= bytes.find("\"CORVANE_BENCH\"=\"" + data + "\"\n") != std::string::npos;
    const fs::path copy = prefix / "plain-write.bin";
    times.clear();
    for (int i = 0; i < runs; ++i) {
        ::unlink(copy.c_str());
        const auto t0 = Clock::now();
        const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::size_t done = 0;
        while (fd >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += std::size_t(n);
        }
        r.ok &= fd >= 0 && done == bytes.size() && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        times.push_back(Since(t0));
    }
    ::unlink(copy.c_str());
    r.plain = Median(times);
    return r;
}

struct Case {
    Case(const char* l, std::size_t t, int r) : label(l), target(t), runs(r) {}
    const char* label;
    std::size_t target;
    int runs;
    double mb = 0;
    std::size_t sections = 0, values = 0;
    Counts read;
    bool roundTrip = false;
    double load = 0, loadAll = 0, peak = 0, peakAll = 0;
    WriteTimes write;
};

void Run(Case& c, const fs::path& prefix) {
    fs::create_directories(prefix);
    const fs::path file = prefix / "system.reg";
    {
        const bench::GeneratedReg gen = bench::GenerateSystemReg(c.target);
        const std::string& text = gen.text;
        std::ofstream(file, std::ios::binary) << text;
        c.mb = double(text.size()) / 1e6;
        c.sections = gen.sections;
        c.values = gen.values;
        wine::RegHive hive(file);
        hive.refresh();
        c.roundTrip = hive.toText() == text; // loading and saving keeps every byte
    }
    std::vector<double> lazy, all;
    TimeLoad(file, true, c.read); // warm-up
    for (int i = 0; i < c.runs; ++i) {
        lazy.push_back(TimeLoad(file, false, c.read));
        all.push_back(TimeLoad(file, true, c.read));
    }
    c.load = c.mb / Median(lazy);
    c.loadAll = c.mb / Median(all);
    c.peak = LoadPeakMb(file, false);
    c.peakAll = LoadPeakMb(file, true);
    c.write = TimeWrite(prefix, c.runs);
}

// One value set on a key whose section holds `count` entries of that name, and the
// text written; false in `ok` unless one entry of the name is left.
double TimeDuplicateSet(std::size_t count, bool& ok) {
    std::string text = "WINE REGISTRY Version 2\n\n[Key] 1\n";
    for (std::size_t i = 0; i < count; ++i)
        text += "\"dup\"=dword:00000001\n";
    wine::RegHive hive("/nonexistent/bench.reg");
    hive.loadText(std::move(text));
    wine::RegNode* key = hive.root().findChild(u"Key");
    const auto t0 = Clock::now();
    hive.setValue(*key, wine::RegValue{u"dup", RegType::Dword, {2, 0, 0, 0}});
    const std::string written = hive.toText();
    const double seconds = Since(t0);
    std::size_t entries = 0;
    for (auto at = written.find("\"dup\"="); at != std::string::npos;
         at = written.find("\"dup\"=", at + 1))
        ++entries;
    ok = ok && entries == 1;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--load-peak") == 0)
        return LoadPeakChild(argv[2], std::strcmp(argv[3], "all") == 0);
    if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) {
        // Writes one generated file, to look at.
        const bench::GeneratedReg gen =
            bench::GenerateSystemReg(std::strtoull(argv[2], nullptr, 10));
        std::ofstream(argv[3], std::ios::binary) << gen.text;
        std::printf("%zu sections, %zu values\n", gen.sections, gen.values);
        return 0;
    }

    char tmpl[] = "/tmp/corvane-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("reg_bench: mkdtemp");
        return 1;
    }
    const fs::path tmp = tmpl;
    Case cases[] = {{"fresh prefix", 1'700'000, 9}, {"large", 50'000'000, 5}};
    try {
        for (Case& c : cases) {
            std::fprintf(stderr, "reg_bench: %s...\n", c.label);
            Run(c, tmp / (c.label[0] == 'f' ? "fresh" : "large"));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reg_bench: %s\n", e.what());
        fs::remove_all(tmp);
        return 1;
    }
    fs::remove_all(tmp);

    std::printf("\nRegistry store, system.reg (warm page cache, medians)\n\n");
    std::printf("%-34s %16s %16s\n", "", cases[0].label, cases[1].label);
    auto row = [&](const char* name, const char* fmt, auto get) {
        char a[32], b[32];
        std::snprintf(a, sizeof a, fmt, get(cases[0]));
        std::snprintf(b, sizeof b, fmt, get(cases[1]));
        std::printf("%-34s %16s %16s\n", name, a, b);
    };
    row("file size (MB)", "%.2f", [](const Case& c) { return c.mb; });
    row("sections written", "%zu", [](const Case& c) { return c.sections; });
    row("values written", "%zu", [](const Case& c) { return c.values; });
    row("keys read (sections + implied)", "%zu", [](const Case& c) { return c.read.keys; });
    row("sections read", "%zu", [](const Case& c) { return c.read.sections; });
    row("values read", "%zu", [](const Case& c) { return c.read.values; });
    row("load + save gives the same bytes", "%s",
        [](const Case& c) { return c.roundTrip ? "yes" : "NO"; });
    row("load, one value read (MB/s)", "%.0f", [](const Case& c) { return c.load; });
    row("load, every value read (MB/s)", "%.0f", [](const Case& c) { return c.loadAll; });
    row("one WriteRegValue (ms)", "%.2f", [](const Case& c) { return c.write.write * 1e3; });
    row("write()+fsync of the file (ms)", "%.2f",
        [](const Case& c) { return c.write.plain * 1e3; });
    row("  ratio", "%.2fx", [](const Case& c) { return c.write.write / c.write.plain; });
    row("  value reached the file", "%s", [](const Case& c) { return c.write.ok ? "yes" : "NO"; });
    row("peak memory, load (MB)", "%.1f", [](const Case& c) { return c.peak; });
    row("peak memory, every value read (MB)", "%.1f", [](const Case& c) { return c.peakAll; });

    // A missed goal is reported, not failed on.
    std::printf("\n%-34s %16s %16s\n", "Goals", cases[0].label, cases[1].label);
    auto goal = [&](const char* name, const char* fmt, auto check) {
        char out[2][32];
        for (int i = 0; i < 2; ++i) {
            const auto [met, figure] = check(cases[i]);
            std::snprintf(out[i], sizeof out[i], fmt, figure, met ? "met" : "MISSED");
        }
        std::printf("%-34s %16s %16s\n", name, out[0], out[1]);
    };
    goal("load >= 100 MB/s, one value", "%.0f %s",
         [](const Case& c) { return std::pair(c.load >= 100, c.load); });
    goal("load >= 100 MB/s, every value", "%.0f %s",
         [](const Case& c) { return std::pair(c.loadAll >= 100, c.loadAll); });
    goal("one write <= 2x a plain write", "%.2fx %s", [](const Case& c) {
        return std::pair(c.write.write <= 2 * c.write.plain, c.write.write / c.write.plain);
    });
    goal("memory <= 4x file, one value", "%.2fx %s",
         [](const Case& c) { return std::pair(c.peak >= 0 && c.peak <= 4 * c.mb, c.peak / c.mb); });
    goal("memory <= 4x file, every value", "%.2fx %s", [](const Case& c) {
        return std::pair(c.peakAll >= 0 && c.peakAll <= 4 * c.mb, c.peakAll / c.mb);
    });
    bool sound = std::all_of(std::begin(cases), std::end(cases), [](const Case& c) {
        return c.roundTrip && c.write.ok && c.read.values == c.values;
    });

    std::printf("\nA value set among entries of one name (in memory, write text included)\n\n");
    double last = 0;
    for (std::size_t count : {25'000, 50'000, 100'000}) {
        std::vector<double> runs;
        for (int i = 0; i < 3; ++i)
            runs.push_back(TimeDuplicateSet(count, sound));
        const double t = Median(runs);
        std::printf("%-34s %13.1f ms", (std::to_string(count) + " entries").c_str(), t * 1e3);
        if (last > 0) std::printf("  (%.1fx the half)", t / last);
        std::printf("\n");
        last = t;
    }
    if (!sound) std::printf("\nreg_bench: a check above failed; the figures may not mean much\n");
    return sound ? 0 : 1;
}
