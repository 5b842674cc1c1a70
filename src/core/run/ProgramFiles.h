// What the program reads from the files it keeps beside it: its branding and the dates
// of the last scan and repair.
#pragma once

#include <string>

namespace corvane {

// The branding of oem/oem.ini in `appDir` (ending in a path separator), with its
// defaults.
struct OemInfo {
    std::string softName;
    std::string authorName;
};
OemInfo ReadOemInfo(const std::string& appDir);

// The texts of the two date labels: the stored dates of the last scan and repair from
// `settingsFile`, or "未知" where a date is missing or not valid.
struct LastDates {
    std::string scan;
    std::string fix;
};
LastDates ReadLastDates(const std::string& settingsFile);

} // namespace corvane
