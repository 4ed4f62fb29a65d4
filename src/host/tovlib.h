// The maker's support library: settings-file naming, help display, opening
// files with their program, the About box. Narrow texts throughout.
#pragma once

extern "C" {

// Fills settingsFileName (256 bytes) with the full path of the module's settings file, settingsDatName
// (320 bytes) and the two flags; creates the settings folder when missing.
void v_settingDllIniFileName(char* settingsFileName, char* settingsDatName, int* unusedFlag, int* updateSettingsDat,
                             const char* moduleName, const char* appDirectory);
// Records the settings file in the data file at unload; true on success.
bool b_settingDllUpdateSettingsDatFile(const char* settingsFileName, const char* settingsDatName);

// Opens the PDF help file at a named destination; 0 on success.
int j_pdfHelp_displayNamedDest(const char* pdfPath, const char* destination);
// Opens a file with the program registered for it; 0 on success.
int j_OSOpenFile(const char* path);
// Shows the About box with the given texts; 0 on success.
int j_htmabout2(const char* productName, const char* moduleName, const char* versionLine, const char* description,
                const char* extraText);
// Writes the date (year, month 1-12, day) as the library's date text into buffer (64 bytes).
void v_dateText(char* buffer, int year, int month, int day);
}
