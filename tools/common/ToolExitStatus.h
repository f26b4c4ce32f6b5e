// Exit statuses shared by the data generators (fontbake, logogen), so scripts can tell
// their failures apart the same way.
#pragma once

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;
constexpr int ExitBadFont = 2;
constexpr int ExitDoesNotFit = 3;
constexpr int ExitUnwritable = 4;
