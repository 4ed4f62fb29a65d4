// The settings record: factory values, the change test used at unload, the
// date line of the settings file and the settings-file chooser.
#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "host/hostio.h"
#include "host/hostwrap.h"
#include "host/mdlsystem.h"
#include "settings/settings_file.h"

SettingsState g_settings{};
t_globals& s__globals = g_settings.record;

namespace {

const char* const k_factoryLineStyles[8] = {"1", "1,6", "6,4", "10,4", "8,4,1,4", "3,4", "7,4,1,4,1,4", "9,4,3,4"};

const char* const k_weekdays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const k_months[12] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

// Copies text into a fixed buffer of N bytes, always terminated.
template <std::size_t N>
void v_textSet(char (&buffer)[N], const char* text) {
    std::snprintf(buffer, N, "%s", text ? text : "");
}

// An index in 0..count-1 however far out of range value is (a std::tm filled by hand).
int j_wrapIndex(int value, int count) {
    const int r = value % count;
    return r < 0 ? r + count : r;
}

}  // namespace

void v_settingsDefaults() {
    t_globals& r = s__globals;
    // Host facts and help destinations survive a reset of the options.
    const int hostVersion89 = r.HostVersion89;
    const int hostVersion811 = r.HostVersion811;
    char helpTopic[sizeof r.HelpTopic];
    char pageName[sizeof r.PageName];
    std::memcpy(helpTopic, r.HelpTopic, sizeof helpTopic);
    std::memcpy(pageName, r.PageName, sizeof pageName);

    r = t_globals{};
    r.Backup = 1;
    r.StampDelete = 1;
    r.ResizeDestination = 1;
    r.FirstRunUnderV10 = 1;
    r.DisplayPrompts = 1;
    const RGBColorDef yellow{255, 255, 0};
    r.BorderColor = mdlColor_elementColorFromRGB(&yellow, mdlModelRef_getActive());
    r.ModifyMode = 1;
    r.StampMode = 5;
    r.DespeckleMode = 5;
    r.MaskMethod = 1;
    r.ClipMethod = 1;
    r.ScaleX = 1.0;
    r.ScaleY = 1.0;
    r.ScratchWidth = 1000;
    r.ScratchHeight = 1000;
    r.DespeckleX = 1;
    r.DespeckleY = 1;
    r.ScaleLock = 1;
    for (int i = 0; i < 32; ++i) r.LineWeight[i] = i + 1;
    for (int i = 0; i < 8; ++i) v_textSet(r.LineStyle[i], k_factoryLineStyles[i]);
    r.Interface = 2;
    r.BrushSize = 20.0;
    r.CanvasAuto = 1;

    r.HostVersion89 = hostVersion89;
    r.HostVersion811 = hostVersion811;
    std::memcpy(r.HelpTopic, helpTopic, sizeof helpTopic);
    std::memcpy(r.PageName, pageName, sizeof pageName);
}

bool b_settingsChanged() {
    const t_globals& now = s__globals;
    const t_globals& then = g_settings.snapshot;
    for (int i = 0; i < 32; ++i)
        if (now.LineWeight[i] != then.LineWeight[i]) return true;
    for (int i = 0; i < 8; ++i) {
        if (std::strlen(now.LineStyle[i]) != std::strlen(then.LineStyle[i])) return true;
        if (n_nameCompare(now.LineStyle[i], then.LineStyle[i]) != 0) return true;
    }
    if (now.SaveWithoutAsking != then.SaveWithoutAsking) return true;
    if (n_nameCompare(now.ScratchDir, then.ScratchDir) != 0) return true;
    if (now.CanvasColor.red != then.CanvasColor.red || now.CanvasColor.green != then.CanvasColor.green ||
        now.CanvasColor.blue != then.CanvasColor.blue)
        return true;
    std::size_t count = 0;
    const SettingsKey* keys = pv_settingsKeys(&count);
    for (std::size_t i = 0; i < count; ++i) {
        const SettingsKey& key = keys[i];
        if (key.kind == SettingsKeyKind::Number && key.compared && now.*key.number != then.*key.number) return true;
    }
    return false;
}

int j_dateStamp(char* buffer, const std::tm& when) {
    if (!buffer) return ERROR;
    constexpr std::size_t size = 64;
    int hour = when.tm_hour;
    const char* half = hour >= 12 ? "pm" : "am";
    if (hour == 0 || hour == 12)
        hour = 12;
    else if (hour > 12)
        hour -= 12;
    std::snprintf(buffer, size, "%s, %d %s %d  %d:%02d %s", k_weekdays[j_wrapIndex(when.tm_wday, 7)], when.tm_mday,
                  k_months[j_wrapIndex(when.tm_mon, 12)], when.tm_year + 1900, hour, when.tm_min, half);
    return SUCCESS;
}

int j_dateStamp(char* buffer) {
    if (!buffer) return ERROR;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    b_hostLocalTime(now, &local);  // a time the host cannot convert keeps the zero date
    return j_dateStamp(buffer, local);
}

const char* pc_settingsFileChoose(bool saveAs) {
    // The dialog opens in the folder of the current settings file and offers the
    // path chosen last time.
    char device[MAXFILELENGTH] = "";
    char directory[MAXFILELENGTH] = "";
    v_fileParseName(g_settings.fileName, device, directory, nullptr, nullptr);
    char startDirectory[MAXFILELENGTH] = "";
    v_fileBuildName(startDirectory, device, directory, nullptr, nullptr);

    char chosen[MAXFILELENGTH];
    v_textSet(chosen, g_settings.lastChosenPath);
    const int status = saveAs ? j_fileCreateDialog(chosen, "*.ini", startDirectory, "Save Settings As")
                              : j_fileOpenDialog(chosen, "*.ini", startDirectory, "Select *.ini File");
    if (status != SUCCESS) return nullptr;
    v_textSet(g_settings.lastChosenPath, chosen);
    return g_settings.lastChosenPath;
}
