// Help, opening files and the About box. This platform has no PDF viewer or
// shell association to call on, so each call reports in the host's output what
// it shows or opens.
#include <cstdio>
#include <string>

#include "host/mdldialog.h"
#include "host/mdlsystem.h"
#include "host/tovlib.h"
#include "tovtext.h"

namespace {

constexpr int k_notFound = 1;

const char* const k_months[12] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

// A message-centre entry with priority and a narrow brief text.
void v_report(int priority, const std::string& brief) {
    mdlOutput_messageCenter(priority, tov::w_wide(brief.c_str()).c_str(), L"", false);
}

// Reports what would be opened when the file exists; 0, or k_notFound after an error entry.
int j_showFile(const char* label, const std::string& path, const std::string& shown) {
    if (!tov::b_regularFile(path)) {
        v_report(OutputMessagePriority_Error, std::string(label) + ": cannot find " + path + ".");
        return k_notFound;
    }
    v_report(OutputMessagePriority_Info, std::string(label) + ": " + shown);
    return 0;
}

}  // namespace

extern "C" {

int j_pdfHelp_displayNamedDest(const char* pdfPath, const char* destination) {
    const std::string path = pdfPath ? pdfPath : "";
    const std::string dest = destination ? destination : "";
    return j_showFile("Help", path, dest.empty() ? path : path + "#" + dest);
}

int j_OSOpenFile(const char* path) {
    const std::string file = path ? path : "";
    return j_showFile("Open", file, file);
}

int j_htmabout2(const char* productName, const char* moduleName, const char* versionLine, const char* description,
                const char* extraText) {
    std::string text = std::string("About ") + (productName ? productName : "");
    auto line = [&text](const char* label, const char* value) {
        if (value && *value) text += std::string("\n") + label + value;
    };
    line("Module: ", moduleName);
    line("Version: ", versionLine);
    line("", description);
    line("", extraText);
    mdlDialog_openMessageBox(MSGBOX_NOTICE, tov::w_wide(text.c_str()).c_str(), 1);
    return 0;
}

void v_dateText(char* buffer, int year, int month, int day) {
    if (!buffer) return;
    if (month >= 1 && month <= 12)
        std::snprintf(buffer, 64, "%d %s %d", day, k_months[month - 1], year);
    else
        std::snprintf(buffer, 64, "%d-%02d-%02d", year, month, day);
}

}  // extern "C"
