// The settings dialog: pages of options bound to the settings record, the
// stamp's line-weight and line-style lists, the scratch folder, the title that
// names the settings file, the menu mark of SaveWithoutAsking, and the six
// settings commands.
#pragma once

#include <string>

#include "host/mdldialog.h"
#include "host/mdltypes.h"

// Opens the settings dialog (publishing its hooks) and sets its title and menu mark.
void v_settingsDialogOpen();
// Settings commands: open a file, save (the focused text field taken first), save as, toggle
// SaveWithoutAsking, factory defaults after confirmation; each refreshes an open dialog.
void v_settingsOpenCommand();
void v_settingsSaveCommand();
void v_settingsSaveAsCommand();
void v_settingsAutoSaveCommand();
void v_settingsDefaultsCommand();
// The open settings dialog; null when it is closed.
MSDialog* pv_settingsDialog();
// Forgets the page and list state of an earlier load (the host has destroyed the dialog).
void v_settingsDialogReset();

// The folder chooser: starts in directory (256 bytes, changed in place; "" the current folder), titled
// title ("Select Directory" when null); 0 with the chosen folder written back, 1 when cancelled.
int j_directoryChoose(char* directory, const char* title);
// Where the folder chooser starts for text: the current folder for "", relative folders against the
// current folder, a folder that cannot be listed replaced by MSDIR (when that can be); ends in '/'.
std::string s_directoryStart(const char* text);
// True when folder exists and files may be made in it.
bool b_folderWritable(const char* folder);
// The chooser's answer for a chosen folder: without its trailing '/', except the root "/".
std::string s_directoryResult(const std::string& folder);
