// The settings record: every option of the add-on and the run-time values its
// tool states share, the settings file writer and reader, and the change test.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct CanvasRgb {
    std::uint8_t red, green, blue;
};

// Field names are the settings-file keys; the record is published to the host
// as "t_globals"/"s__globals" so that dialog items bind to its fields.
struct t_globals {
    int Backup;
    int SaveWithoutAsking;
    int EditCopy;
    int ResizeCopy;
    int CropCopy;
    int StampDelete;
    int MergePixels;
    int CreateNewFile;
    int ResizeDestination;
    int DontShowV8iWarning;
    int FirstRunUnderV10;
    int DisplayPrompts;
    int CopyAngle;
    int ShellAction;
    int BorderColor;
    int ScratchDirOption;
    char ScratchDir[256];
    int ModifyMode;
    int HybridMode;
    int StampMode;
    int DespeckleMode;
    int DeskewMode;
    int MaskMethod;
    int ClipMethod;
    int ResizeRowsEnd;
    int ResizeRowsStart;
    int ResizeColumnsStart;
    int ResizeColumnsEnd;
    CanvasRgb CanvasColor;
    int CanvasColorIndex;
    char ResizeOldSizeText[32];
    char ResizeNewSizeText[32];
    double ScaleX;
    double ScaleY;
    int ScratchWidth;
    int ScratchHeight;
    int DespeckleX;
    int DespeckleY;
    double DeskewAngle;
    double DeskewAngleDetected;
    int DeskewCorner;
    int ScaleLock;
    int LineWeight[32];
    char LineStyle[8][64];
    int WeightRow;
    int StyleRow;
    int Interface;
    double BrushSize;
    int CanvasAuto;
    int OperationView;
    int HostVersion89;
    int HostVersion811;
    char HelpTopic[32];
    char PageName[32];
};

// Module state of the settings: the record, the snapshot the change test compares
// against, the settings dialog's copy, the last path the file chooser gave and the
// full path of the current settings file (filled at start-up through
// v_settingDllIniFileName, replaced after a successful Open or Save As).
struct SettingsState {
    t_globals record;
    t_globals snapshot;
    t_globals dialogCopy;
    char lastChosenPath[256];
    char fileName[256];
    // The write failure last said in the message centre ("path: reason"), so that a save asked
    // again and again (the unload question) says it once, not once a try.
    std::string writeFailureSaid;
};

extern SettingsState g_settings;
// The one settings record every Part reads and writes.
extern t_globals& s__globals;

// Status of a settings file that does not exist / cannot be opened.
constexpr int SETTINGS_MISSING = -1;
constexpr int SETTINGS_UNREADABLE = -2;

// Resets every field of the record to its factory value, except the host-version flags
// and the help destinations (HelpTopic, PageName), which describe the running host and
// session rather than options and keep their values.
void v_settingsDefaults();
// Reads the settings file (asking for one first when choose); 0, -1 missing, -2 unreadable, ERROR cancelled.
int j_settingsRead(bool choose, bool report);
// Writes the settings file (asking for a new path when choose); 0, or ERROR when cancelled or not created.
int j_settingsWrite(bool choose, bool report);
// True when a compared option differs from the last read or written state.
bool b_settingsChanged();
// Writes the local date and time as "Friday, 4 December 2026  2:46 am" into buffer (64 bytes); 0, or ERROR for none.
int j_dateStamp(char* buffer);
// The same for the given local time (wday, mday, mon, year, hour, min used); 0, or ERROR for none.
int j_dateStamp(char* buffer, const std::tm& when);
// Asks for a settings file (save-as or open); the chosen path, or null when cancelled.
const char* pc_settingsFileChoose(bool saveAs);
