// Engine benchmarks: RuleTriggered and RunRepairXML on typical rule documents (two file
// and three registry rules each) against a prefix whose system.reg has the size of a
// fresh Wine 8 prefix's, 10,000 documents in a row.
//
// The registry is read once, before the first document; the store's generation counter
// shows that no document makes it read again (detection changes nothing, so the counter
// must not move; each repair saves the file once per registry write, so the counter
// must move by exactly that much). Usage: engine_bench [documents]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "RegGenerator.h"
#include "core/engine/RuleDocument.h"
#include "core/engine/RuleTriggered.h"
#include "core/engine/RunRepairXML.h"
#include "core/platform/Platform.h"
#include "core/platform/wine/WinePlatform.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Times {
    double mean = 0, median = 0, p99 = 0, first = 0;
};

Times Summarise(std::vector<double> perDoc, double first) {
    Times t;
    t.first = first;
    for (double d : perDoc)
        t.mean += d;
    t.mean /= double(perDoc.size());
    std::sort(perDoc.begin(), perDoc.end());
    t.median = perDoc[perDoc.size() / 2];
    t.p99 = perDoc[perDoc.size() * 99 / 100];
    return t;
}

void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// The prefix: the generated system.reg with a key of our own, a user.reg with the
// shell folders and a policy key, and a drive_c with a few files.
void MakePrefix(const fs::path& prefix) {
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c/windows/Fonts");
    fs::create_directories(prefix / "drive_c/data");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    Write(prefix / "drive_c/data/file.txt", std::string(4096, 'x'));
    Write(prefix / "drive_c/windows/Fonts/simsun.ttc", std::string(4096, 'f'));

    const bench::GeneratedReg gen = bench::GenerateSystemReg(1'700'000);
    Write(prefix / "system.reg", gen.text + "\n[Software\\\\Corvane] 1700000000\n"
                                            "\"Mode\"=\"Normal\"\n"
                                            "\"Level\"=dword:00000003\n");
    Write(prefix / "user.reg",
          "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
          "#arch=win64\n"
          "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1\n"
          "\"Fonts\"=\"C:\\\\windows\\\\Fonts\"\n"
          "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Policies\\\\Explorer] 1\n"
          "\"NoRun\"=dword:00000001\n");
}

std::string DetectionDocument() {
    DetectionRows rows;
    // And-mode in both groups: every rule is evaluated.
    rows.FilesMatchMode = "and";
    rows.RegMatchMode = "and";
    rows.files = {{"%windir%\\..\\data\\file.txt", "0", "file"},
                  {"<fonts>\\Missing", "1", "nofile"}};
    rows.registry = {
        {"HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Policies", "Explorer", "", "",
         "KeyExists", "0"},
        {"HKLM", "Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentBuildNumber", "REG_SZ",
         "", "ValueExists", "0"},
        {"HKLM", "Software\\Corvane", "Mode", "REG_SZ", "normal", "Value=", "0"},
    };
    std::string text;
    (void)WriteDetectionDocument(rows, text);
    return text;
}

// Leaves the machine as it found it, but for the value "Level": the copy is deleted
// again and the value written is deleted again.
std::string RepairDocument(int i) {
    RepairRows rows;
    rows.files = {{"C:\\backup\\file.txt", "C:\\data\\file.txt", "copy"},
                  {"C:\\backup\\file.txt", "", "delete"}};
    rows.registry = {
        {"HKLM", "Software\\Corvane", "Note", "REG_SZ", "<app>run " + std::to_string(i), "SetValue",
         "1"},
        {"HKLM", "Software\\Corvane", "Level", "REG_DWORD", std::to_string(i), "SetValue", ""},
        {"HKLM", "Software\\Corvane", "Note", "", "", "DelValue", ""},
    };
    std::string text;
    (void)WriteRepairDocument(rows, text);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    const int documents = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    char tmpl[] = "/tmp/corvane-engine-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("engine_bench: mkdtemp");
        return 1;
    }
    const fs::path tmp = tmpl;
    const fs::path prefix = tmp / "prefix";
    MakePrefix(prefix);
    fs::create_directories(tmp / "app");
    const std::string appDir = (tmp / "app").string() + "/";

    wine::WineOptions options = wine::WineOptions::FromProcess();
    options.tmpRoot = tmp;
    options.appDir = tmp / "app";
    wine::WinePlatform platform(prefix, options);
    PlatformScope scope(platform);

    // Detection.
    const std::string detection = DetectionDocument();
    auto t0 = Clock::now();
    const int result = RuleTriggered(detection, appDir); // reads the registry files
    const double firstDetection = Since(t0);
    const std::uint64_t before = platform.registry().generation();
    std::vector<double> perDoc;
    perDoc.reserve(std::size_t(documents));
    int triggered = 0;
    const auto detectStart = Clock::now();
    for (int i = 0; i < documents; ++i) {
        t0 = Clock::now();
        triggered += RuleTriggered(detection, appDir);
        perDoc.push_back(Since(t0));
    }
    const double detectTotal = Since(detectStart);
    const bool detectionReread = platform.registry().generation() != before;
    const Times detect = Summarise(perDoc, firstDetection);

    // Reading alone: the XML walk without evaluating anything.
    class Nothing : public DetectionVisitor {
        bool beginGroup(RuleGroupKind, const std::string&, std::size_t) override { return true; }
        bool fileCondition(const FileConditionRow&) override { return true; }
        bool regCondition(const RegConditionRow&) override { return true; }
        bool endGroup(RuleGroupKind) override { return true; }
    } nothing;
    t0 = Clock::now();
    for (int i = 0; i < documents; ++i)
        (void)WalkDetectionDocument(detection, nothing);
    const double walkOnly = Since(t0) / documents;

    // Repair.
    std::vector<std::string> repairs;
    repairs.reserve(std::size_t(documents) + 1);
    for (int i = 0; i <= documents; ++i)
        repairs.push_back(RepairDocument(i));
    t0 = Clock::now();
    (void)RunRepairXML(repairs[0], appDir);
    const double firstRepair = Since(t0);
    const std::uint64_t beforeRepair = platform.registry().generation();
    perDoc.clear();
    const auto repairStart = Clock::now();
    for (int i = 1; i <= documents; ++i) {
        t0 = Clock::now();
        (void)RunRepairXML(repairs[std::size_t(i)], appDir);
        perDoc.push_back(Since(t0));
    }
    const double repairTotal = Since(repairStart);
    // Three registry writes per document, each saving system.reg once.
    const std::uint64_t saves = platform.registry().generation() - beforeRepair;
    const Times repair = Summarise(perDoc, firstRepair);

    std::ifstream in(prefix / "system.reg", std::ios::binary);
    const std::string finalReg{std::istreambuf_iterator<char>(in), {}};
    const bool repairsLanded =
        finalReg.find("\"Level\"=dword:" +
                      [&] {
                          char hex[16];
                          std::snprintf(hex, sizeof hex, "%08x", unsigned(documents));
                          return std::string(hex);
                      }()) != std::string::npos &&
        finalReg.find("\"Note\"") == std::string::npos &&
        !fs::exists(prefix / "drive_c/backup/file.txt");
    const double regMb = double(fs::file_size(prefix / "system.reg")) / 1e6;
    fs::remove_all(tmp);

    std::printf("\nRule engine, %d documents in a row (2 file + 3 registry rules each), "
                "system.reg %.2f MB\n\n",
                documents, regMb);
    std::printf("%-44s %12s %12s\n", "", "RuleTriggered", "RunRepairXML");
    std::printf("%-44s %12.1f %12.1f\n", "first document, registry read (us)", detect.first * 1e6,
                repair.first * 1e6);
    std::printf("%-44s %12.1f %12.1f\n", "per document, mean (us)", detect.mean * 1e6,
                repair.mean * 1e6);
    std::printf("%-44s %12.1f %12.1f\n", "per document, median (us)", detect.median * 1e6,
                repair.median * 1e6);
    std::printf("%-44s %12.1f %12.1f\n", "per document, 99th percentile (us)", detect.p99 * 1e6,
                repair.p99 * 1e6);
    std::printf("%-44s %12.2f %12.2f\n", "all documents (s)", detectTotal, repairTotal);
    std::printf("%-44s %12.1f %12s\n", "of which reading the document (us)", walkOnly * 1e6, "");
    std::printf("\ndetection result %d (%d of %d triggered); registry read again during "
                "detection: %s\n",
                result, triggered, documents, detectionReread ? "YES" : "no");
    std::printf("repair: %llu saves of system.reg for %d writes (%s); final state as "
                "expected: %s\n",
                static_cast<unsigned long long>(saves), documents * 3,
                saves == std::uint64_t(documents) * 3 ? "no extra reads" : "EXTRA READS",
                repairsLanded ? "yes" : "NO");
    return 0;
}
