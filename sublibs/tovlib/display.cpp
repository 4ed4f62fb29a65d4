// Help, opening files and the About box. The manual opens in the user's PDF
// viewer at a named destination and files open with the program the desktop
// associates with them (subhost/shell.h), both started without waiting for
// them; the host's transcript records what was shown or started.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/mdldialog.h"
#include "host/mdlsystem.h"
#include "host/tovlib.h"
#include "subhost/host.h"
#include "subhost/shell.h"
#include "tovtext.h"

namespace {

constexpr int k_notFound = 1;
constexpr int k_notStarted = 2;

const char* const k_months[12] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

// A message-centre entry with priority and a narrow brief text.
void v_report(int priority, const std::string& brief) {
    mdlOutput_messageCenter(priority, tov::w_wide(brief.c_str()).c_str(), L"", false);
}

// The value of a host configuration variable; empty when it is undefined.
std::string s_cfgVar(const wchar_t* name) {
    wchar_t value[MAX_CFGVAR_LENGTH] = L"";
    if (mdlSystem_getCfgVar(value, name, MAX_CFGVAR_LENGTH) != SUCCESS) return {};
    return tov::s_narrow(value);
}

bool b_envSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// True when program (no slash) is an executable file in a folder of PATH.
bool b_onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t colon = folders.find(':', start);
        if (colon == std::string::npos) colon = folders.size();
        const std::string folder = folders.substr(start, colon - start);
        if (!folder.empty() && tov::b_regularFile(folder + "/" + program)) return true;
        start = colon + 1;
    }
    return false;
}

// Puts the file (%f) and the destination (%d) into each word of a viewer's command line; the file is
// appended when no word names it. "%%" is a plain percent sign.
std::vector<std::string> viewerWords(const std::vector<std::string>& words, const std::string& file,
                                     const std::string& dest) {
    std::vector<std::string> out;
    bool fileGiven = false;
    for (const std::string& word : words) {
        std::string w;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size()) {
                const char code = word[++i];
                if (code == 'f') {
                    w += file;
                    fileGiven = true;
                } else if (code == 'd') {
                    w += dest;
                } else if (code == '%') {
                    w += '%';
                } else {
                    w += '%';
                    w += code;
                }
            } else {
                w += word[i];
            }
        }
        out.push_back(w);
    }
    if (!out.empty() && !fileGiven) out.push_back(file);
    return out;
}

// The first installed viewer that opens a PDF at a named destination; empty when none is.
std::vector<std::string> knownViewer(const std::string& file, const std::string& dest) {
    if (b_onPath("evince")) return {"evince", "--named-dest=" + dest, file};
    if (b_onPath("okular")) return {"okular", file + "#" + dest};
    if (b_onPath("zathura")) return {"zathura", file};
    return {};
}

std::string s_joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

// The help event: what was asked for, what was started (if anything) and how it went.
void v_helpEvent(const std::string& file, const std::string& dest, const std::vector<std::string>& viewer,
                 const std::string& result) {
    subhost::recordEvent(
        {{"event", "help"}, {"file", file}, {"destination", dest}, {"viewer", s_joined(viewer)}, {"result", result}});
}

// Starts words without waiting; 0, or k_notStarted after an error entry naming the program.
int j_start(const std::vector<std::string>& words, const char* label) {
    const int code = subhost::shell::startDetached(words);
    if (code == 0) return 0;
    v_report(OutputMessagePriority_Error,
             std::string(label) + ": cannot start " + (words.empty() ? "" : words[0]) + ": " + std::strerror(code));
    return k_notStarted;
}

}  // namespace

extern "C" {

int j_pdfHelp_displayNamedDest(const char* pdfPath, const char* destination) {
    const std::string file = pdfPath ? pdfPath : "";
    const std::string dest = destination ? destination : "";
    if (!tov::b_regularFile(file)) {
        v_helpEvent(file, dest, {}, "missing");
        const std::string text = "The PixelMend manual " + file + " cannot be found.";
        mdlDialog_openMessageBox(MSGBOX_NOTICE, tov::w_wide(text.c_str()).c_str(), 4);
        return k_notFound;
    }
    const std::string configured = s_cfgVar(L"PXMEND_PDF_VIEWER");
    std::vector<std::string> viewer;
    if (configured == "none") {
        v_helpEvent(file, dest, {}, "none");
        return 0;
    }
    if (!configured.empty()) {
        viewer = viewerWords(subhost::shell::splitCommandLine(configured), file, dest);
        if (viewer.empty()) {
            v_helpEvent(file, dest, {}, "badViewer");
            v_report(OutputMessagePriority_Error, "Help: PXMEND_PDF_VIEWER is not a command line: " + configured);
            return k_notStarted;
        }
    } else if (b_envSet("DISPLAY") || b_envSet("WAYLAND_DISPLAY")) {
        viewer = knownViewer(file, dest);
        if (viewer.empty()) viewer = subhost::shell::associatedCommand(file);
    } else {
        // Without a display no viewer could show the manual.
        v_helpEvent(file, dest, {}, "noDisplay");
        return 0;
    }
    if (viewer.empty()) {
        v_helpEvent(file, dest, {}, "noViewer");
        v_report(OutputMessagePriority_Warning, "Help: no PDF viewer found for " + file + ".");
        return k_notStarted;
    }
    const int code = j_start(viewer, "Help");
    v_helpEvent(file, dest, viewer, code == 0 ? "started" : "failed");
    return code;
}

int j_OSOpenFile(const char* path) {
    const std::string file = path ? path : "";
    if (!tov::b_regularFile(file)) {
        v_report(OutputMessagePriority_Error, "Open: cannot find " + file + ".");
        return k_notFound;
    }
    const std::vector<std::string> command = subhost::shell::associatedCommand(file);
    if (command.empty()) {
        v_report(OutputMessagePriority_Error, "Open: no program is associated with " + file + ".");
        return k_notStarted;
    }
    v_report(OutputMessagePriority_Info, "Open: " + file + " with " + command[0]);
    return j_start(command, "Open");
}

int j_htmabout2(const char* productName, const char* moduleName, const char* versionLine, const char* description,
                const char* extraText) {
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    subhost::recordEvent({{"event", "about"},
                          {"product", text(productName)},
                          {"module", text(moduleName)},
                          {"version", text(versionLine)},
                          {"description", text(description)},
                          {"extra", text(extraText)}});
    // The box itself: modal, one OK button.
    std::string shown = "About " + text(productName);
    for (const std::string& line : {text(moduleName), text(versionLine), text(description), text(extraText)})
        if (!line.empty()) shown += "\n" + line;
    mdlDialog_openMessageBox(MSGBOX_NOTICE, tov::w_wide(shown.c_str()).c_str(), 1);
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
