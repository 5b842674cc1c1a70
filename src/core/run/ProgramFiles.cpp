#include "core/run/ProgramFiles.h"

#include "core/engine/UnitString.h"
#include "core/run/Version.h"
#include "core/store/IniFile.h"

namespace corvane {

OemInfo ReadOemInfo(const std::string& appDir) {
    const IniDocument ini(ReadTextFile(appDir + "oem/oem.ini"));
    // As GetPrivateProfileString: the default stands in for a missing key only.
    // The product name and its version with no blank between them.
    return {ini.find("Oem", "softName").value_or("CorvaneV" CORVANE_VERSION ".0"),
            ini.find("Oem", "authorName").value_or("Halvik")};
}

LastDates ReadLastDates(const std::string& settingsFile) {
    const IniDocument ini(ReadTextFile(settingsFile));
    auto shown = [](std::string date) {
        if (!IsValidDateText(date)) date.clear();
        return date.empty() ? std::string("未知") : date;
    };
    return {shown(ini.read("Setting", "ScanTime")), shown(ini.read("Setting", "FixTime"))};
}

} // namespace corvane
