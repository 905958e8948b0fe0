#pragma once

// Length of the build stamp "DD.MM.YYYY HH:MM:SS" (the day is space-padded).
constexpr unsigned kBuildDateTimeLength = 19;

// Formats a compiler date text ("Sep  3 2019") and time text ("11:47:18") as
// " 3.09.2019 11:47:18" into out. Exposed for tests; GetBuildDateTime() uses it
// with the program's own build date and time.
void FormatBuildDateTime(const char* date, const char* time, char (&out)[kBuildDateTimeLength + 1]);

// The program's build date and time in a static buffer that every call
// rewrites; copy it before the next call if it must be kept.
const char* GetBuildDateTime();
