// Rule library benchmarks: opening the library (the key derivation dominates),
// CountRules, and the full read of the rule table that the scan and the rule library
// window do, on a library of 10,000 items whose detection and repair documents are of
// the usual size (0.5 to 3 KB each) and whose names are Chinese.
//
// The library is generated with a fixed seed in a temporary folder. Each figure is the
// median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

#include "core/store/RuleLibrary.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kSeed = 0x5EED3132;
constexpr int kItems = 10000;

const char* const kHanzi[] = {"清理", "系统", "注册表", "文件", "残留",   "修复", "缓存",
                              "临时", "启动", "服务",   "插件", "浏览器", "广告", "病毒",
                              "异常", "设置", "图标",   "关联", "网络",   "驱动"};
const char* const kFolders[] = {"%windir%\\system32",
                                "%ProgramFiles%\\Common Files",
                                "%APPDATA%\\Microsoft",
                                "<app>data",
                                "%TEMP%",
                                "<personal>\\My Files",
                                "%windir%\\Fonts",
                                "<desktop>"};
const char* const kKeys[] = {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                             "Software\\Classes\\CLSID\\{00000000-0000-0000-C000-000000000046}",
                             "System\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                             "Software\\Microsoft\\Internet Explorer\\Main"};

class Gen {
public:
    std::string Name() {
        std::string name;
        const int words = Pick(2, 4);
        for (int w = 0; w < words; ++w)
            name += kHanzi[Pick(0, std::size(kHanzi) - 1)];
        return name + std::to_string(Pick(1, 999));
    }

    // A document of `min` to `max` bytes: one <rules> root, <type> groups, <CHdb> rules.
    std::string Document(bool repair, std::size_t min, std::size_t max) {
        const std::size_t target =
            static_cast<std::size_t>(Pick(static_cast<int>(min), static_cast<int>(max)));
        std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<rules mode=\"" +
                          std::string(Pick(0, 1) ? "or" : "and") + "\">";
        while (xml.size() + 20 < target) {
            xml += "<type name=\"" + Name() + "\">";
            const int rules = Pick(1, 4);
            for (int r = 0; r < rules && xml.size() + 20 < target; ++r) {
                if (Pick(0, 1)) {
                    xml += "<CHdb opttype=\"" + std::string(repair ? "delfile" : "fileexists") +
                           "\" FilePath=\"" + kFolders[Pick(0, std::size(kFolders) - 1)] + "\\" +
                           Word() + ".dll\" compareValue=\"\"/>";
                } else {
                    xml += "<CHdb opttype=\"" + std::string(repair ? "setvalue" : "valueexists") +
                           "\" root=\"HKLM\" key=\"" + kKeys[Pick(0, std::size(kKeys) - 1)] +
                           "\" name=\"" + Word() + "\" type=\"REG_SZ\" compareValue=\"" + Word() +
                           "\"/>";
                }
            }
            xml += "</type>";
        }
        return xml + "</rules>";
    }

    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    int Pick(int lo, std::size_t hi) { return Pick(lo, static_cast<int>(hi)); }

private:
    std::string Word() {
        std::string word;
        const int n = Pick(4, 12);
        for (int i = 0; i < n; ++i)
            word += static_cast<char>('a' + Pick(0, 25));
        return word;
    }

    std::mt19937_64 rng_{kSeed};
};

// Bytes the process has allocated and not freed (glibc).
std::size_t InUse() {
    return ::mallinfo2().uordblks;
}

double Median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Time(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        work();
        ms.push_back(Ms(Clock::now() - start));
    }
    return Median(ms);
}

} // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "corvane-dbbench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const fs::path dir = pattern;
    const LibraryLocation lib{(dir / "cvdb.db").string()};

    // ---- The library -----------------------------------------------------------------
    Gen gen;
    std::size_t documentBytes = 0;
    const auto fillStart = Clock::now();
    CreateRuleDatabase(lib);
    {
        const auto db = OpenRuleLibrary(lib);
        db->OpenTransaction();
        for (int i = 0; i < kItems; ++i) {
            RuleItem item;
            item.Name = gen.Name();
            item.Level = gen.Pick(0, 4);
            item.OSId = gen.Pick(0, 3) ? "all-os" : "xp-only";
            item.Des = "检测并" + gen.Name();
            item.OptText = gen.Document(false, 500, 3000);
            item.RepairXML = gen.Document(true, 500, 3000);
            item.MessBoxText = gen.Pick(0, 4) ? "" : "修复前请关闭所有浏览器窗口。";
            documentBytes += item.OptText.size() + item.RepairXML.size();
            db->Execute(RuleSql::InsertRule(lib.table, item));
        }
        db->CommitTransaction();
    }
    const double fillMs = Ms(Clock::now() - fillStart);
    std::printf("library: %d items, %.1f MB of documents, file %.1f MB, written in %.0f ms\n",
                kItems, static_cast<double>(documentBytes) / 1e6,
                static_cast<double>(fs::file_size(lib.file)) / 1e6, fillMs);

    // ---- Opening ---------------------------------------------------------------------
    const double openMs = Time(9, [&] { (void)OpenRuleLibrary(lib); });
    std::printf("open the library (key derivation, two pragmas):  %8.1f ms\n", openMs);

    // ---- CountRules ------------------------------------------------------------------
    std::string shown;
    const double countMs = Time(5, [&] {
        if (CountRules(lib, [&](const std::string& text) { shown = text; }) != 0) std::abort();
    });
    std::printf("CountRules (open + full read):                    %8.1f ms  (%s)\n", countMs,
                shown.c_str());

    // ---- The full read of statement 1 ------------------------------------------------
    const auto db = OpenRuleLibrary(lib);
    const double queryMs = Time(5, [&] {
        const auto table = db->Query(RuleSql::SelectAllRules(lib.table));
        if (table->RowTotal() != kItems) std::abort();
    });
    std::printf("Query of statement 1 on an open connection:       %8.1f ms\n", queryMs);

    // What the scan does with the result: every row's Name and OSId, and its detection
    // document, read by name and checked for well-formed UTF-8.
    const std::size_t inUseBefore = InUse();
    const auto table = db->Query(RuleSql::SelectAllRules(lib.table));
    std::printf("the result held in memory:                        %8.1f MB\n",
                static_cast<double>(InUse() - inUseBefore) / 1e6);
    std::size_t read = 0;
    const auto walkStart = Clock::now();
    for (int r = 0; r < table->RowTotal(); ++r, table->MoveNext()) {
        read += RuleText(*table, "Name").size();
        read += RuleText(*table, "OSId").size();
        read += RuleText(*table, "OptText").size();
    }
    const double walkMs = Ms(Clock::now() - walkStart);
    std::printf("walking the result as the scan does (3 columns):  %8.1f ms  (%.1f MB read)\n",
                walkMs, static_cast<double>(read) / 1e6);

    // ---- Encrypting a plain library of the same size ---------------------------------
    const std::string plainFile = (dir / "plain.db").string();
    // A plain copy, exported from the encrypted library.
    db->Execute("ATTACH DATABASE " + q(plainFile) + " AS plain KEY '';");
    db->Query("SELECT sqlcipher_export('plain');");
    db->Execute("DETACH DATABASE plain;");
    const auto convertStart = Clock::now();
    { TSQLiteDatabase converted(plainFile, "kplmvz", 1000); }
    std::printf("first open of a plain library of that size:       %8.1f ms (encrypts it)\n",
                Ms(Clock::now() - convertStart));

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
