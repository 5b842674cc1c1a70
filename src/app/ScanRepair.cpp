#include "app/ScanRepair.h"

#include <array>
#include <ctime>

#include "app/unitGlobal.h"
#include "engine/RuleTriggered.h"
#include "engine/RunRepairXML.h"
#include "store/IniFile.h"
#include "store/PlatformGroups.h"
#include "store/RuleLibrary.h"

namespace corvane {

namespace {

// Runs `f` when it goes out of scope, however the scope is left. An error of the
// closing step itself cannot cross the error that is already on its way.
template <typename F> class Closing {
public:
    explicit Closing(F f) : f_(std::move(f)) {}
    ~Closing() {
        try {
            f_();
        } catch (...) {
        }
    }
    Closing(const Closing&) = delete;
    Closing& operator=(const Closing&) = delete;

private:
    F f_;
};

void RecordDate(const char* key, const std::function<void()>& datesChanged) {
    IniWriteString(Global().AppDir + "Setting.ini", "Setting", key, TodayText());
    if (datesChanged) datesChanged();
}

} // namespace

std::string LevelName(int level) {
    static constexpr std::array<const char*, 5> kWords{"安全", "普通", "风险", "高风险", "危险"};
    return level >= 0 && level < 5 ? kWords[static_cast<std::size_t>(level)] : std::string();
}

std::string TodayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

void RunScan(const ScanEvents& events) {
    // The date is recorded before anything else is tried.
    RecordDate("ScanTime", events.datesChanged);
    // Declared first so that it runs last: after the library is closed.
    bool begun = false;
    Closing close([&] {
        if (begun && events.finished) events.finished();
    });
    const auto db = OpenRuleLibrary();
    ReadWinOSRecord(*db);
    const IniDocument groups = ReadPlatformGroups(Global().WinOSText);
    const auto rules = db->Query(RuleSql::SelectAllRules());
    const int total = rules->RowTotal();
    begun = true;
    if (events.started) events.started(total);
    // A level outside 0 to 4 has no word: the column keeps the previous row's word.
    std::string lastWord;
    for (int i = 1; i <= total; ++i) {
        const std::string name = RuleText(*rules, "Name");
        if (events.row) events.row(i, name);
        // The filter comes first: items for other releases are never evaluated.
        if (PlatformGroupApplies(RuleText(*rules, "OSId"), groups) &&
            RuleTriggered(RuleText(*rules, "OptText")) == 1) {
            ScanFinding finding;
            finding.id = rules->TextByName("Id");
            finding.name = name;
            finding.description = RuleText(*rules, "Des");
            finding.level =
                static_cast<int>(std::strtol(rules->TextByName("Level").c_str(), nullptr, 10));
            if (const std::string word = LevelName(finding.level); !word.empty()) lastWord = word;
            finding.levelName = lastWord;
            if (events.found) events.found(finding);
        }
        rules->MoveNext();
    }
}

void RunRepair(const std::vector<RepairRow>& rows, const RepairEvents& events) {
    // Declared first so that it runs last: after the library is closed. A library that
    // cannot be opened ends the run without a date.
    bool opened = false;
    Closing close([&] {
        if (opened) RecordDate("FixTime", events.datesChanged);
    });
    const auto db = OpenRuleLibrary();
    opened = true;
    for (const RepairRow& row : rows) {
        const auto item = db->Query(RuleSql::SelectRuleForRepair(row.id));
        if (item->RowTotal() > 0) {
            const std::string warning = RuleText(*item, "MessBoxText");
            if (!warning.empty() && events.warn) events.warn(warning);
        }
        // An item that left the library fails here, with the empty-result error.
        RunRepairXML(RuleText(*item, "RepairXML"));
        const bool stillThere = RuleTriggered(RuleText(*item, "OptText")) == 1;
        if (events.repaired) events.repaired(row.index, !stillThere);
    }
}

} // namespace corvane
