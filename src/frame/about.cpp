// About: the version and build of the add-on in the support library's About box.
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/help.h"
#include "host/tovlib.h"

namespace {

constexpr const char* PRODUCT_NAME = "PixelMend";
constexpr const char* MODULE_NAME = "Pxmend";
constexpr const char* VERSION_TEXT = "10.0a";
constexpr int BUILD_NUMBER = 8;
constexpr const char* DESCRIPTION =
    "Easily edit color, grayscale and monochrome raster reference files without leaving MicroStation!";

// Month 1-12 of the compiler's three-letter month name; 0 when it is none.
int n_monthOfName(const char* name) {
    static const char* const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (std::strncmp(name, months[i], 3) == 0) return i + 1;
    return 0;
}

// The compiler's date ("Dec  6 2026") as the support library's date text.
std::string s_buildDateText(const char* compilerDate) {
    char month[4] = {};
    int day = 0, year = 0;
    if (!compilerDate || std::sscanf(compilerDate, "%3s %d %d", month, &day, &year) != 3 || n_monthOfName(month) == 0)
        return compilerDate ? compilerDate : "";
    char text[64];
    v_dateText(text, year, n_monthOfName(month), day);
    return text;
}

}  // namespace

std::string s_buildTimeText(int hour, int minute) {
    const int shown = hour == 0 || hour == 12 ? 12 : hour > 12 ? hour - 12 : hour;
    const char* half = hour < 12 ? "am" : "pm";
    char text[32];
    if (minute < 10)
        std::snprintf(text, sizeof text, "%d:0%d%s", shown, minute, half);
    else
        std::snprintf(text, sizeof text, "%d:%d%s", shown, minute, half);
    return text;
}

std::string s_buildLine(const char* compilerDate, const char* compilerTime) {
    int hour = 0, minute = 0;
    if (!compilerTime || std::sscanf(compilerTime, "%d:%d", &hour, &minute) != 2) hour = minute = 0;
    char text[160];
    std::snprintf(text, sizeof text, "%s  %s %s", "Product built:", s_buildDateText(compilerDate).c_str(),
                  s_buildTimeText(hour, minute).c_str());
    return text;
}

std::string s_versionLine() {
    char text[64];
    std::snprintf(text, sizeof text, "%s (build %d)", VERSION_TEXT, BUILD_NUMBER);
    return text;
}

void v_aboutShow() {
    j_htmabout2(PRODUCT_NAME, MODULE_NAME, s_versionLine().c_str(), DESCRIPTION, pc_pxmendBuildLine());
}

extern "C" const char* pc_pxmendVersionLine() {
    static const std::string line = s_versionLine();
    return line.c_str();
}

// The add-on's build time: when this file was compiled.
extern "C" const char* pc_pxmendBuildLine() {
    static const std::string line = s_buildLine(__DATE__, __TIME__);
    return line.c_str();
}
