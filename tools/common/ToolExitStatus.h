// Exit statuses of every tool (srxdump, srxconvert, viewer, fontbake, logogen, demogen),
// so scripts tell their failures apart the same way whichever tool they ran.
#pragma once

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;
// The input (a model, an SRX file, a font) cannot be opened or parsed.
constexpr int ExitUnreadable = 2;
// The input was read but yields nothing the engine can use: no drawable mesh, a file that
// would stop the engine, glyphs that do not fit the atlas or the format.
constexpr int ExitUnusable = 3;
constexpr int ExitUnwritable = 4;
// A run that has not finished within the time it was given (viewer --time-limit).
constexpr int ExitTimedOut = 5;
