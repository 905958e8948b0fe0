#include "sysutil/BuildDateTime.h"

#include <cstdio>

namespace {

// Month number of an English three-letter month name; the third letter tells
// most months apart.
const char* MonthNumber(const char* name) {
    switch (name[2]) {
        case 'n':
            return name[1] == 'a' ? "01" : "06";
        case 'b':
            return "02";
        case 'r':
            return name[0] == 'M' ? "03" : "04";
        case 'y':
            return "05";
        case 'l':
            return "07";
        case 'g':
            return "08";
        case 'p':
            return "09";
        case 't':
            return "10";
        case 'v':
            return "11";
        default:
            return "12";
    }
}

}  // namespace

void FormatBuildDateTime(const char* date, const char* time,
                         char (&out)[kBuildDateTimeLength + 1]) {
    // date is "Mmm dd yyyy": the day sits at 4..5, the year at 7..10.
    std::snprintf(out, sizeof out, "%c%c.%s.%.4s %.8s", date[4], date[5], MonthNumber(date),
                  date + 7, time);
}

const char* GetBuildDateTime() {
    static char version[kBuildDateTimeLength + 1];
    FormatBuildDateTime(__DATE__, __TIME__, version);
    return version;
}
