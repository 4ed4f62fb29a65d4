// Help and About: the PDF manual opened at a named destination (the running
// command's topic or the settings dialog's page), the generic help button's
// compiled help file, and the About box with the version and build.
#pragma once

#include <string>

#include "host/mdldialog.h"
#include "host/mdltypes.h"

// Full path of the PDF manual: the add-on's directory followed by "Pxmendv8.pdf".
std::string s_helpFilePath();
// Help command: opens the manual at the destination argument; nothing without one.
void v_helpCommand(WCharCP argument);
// Hook 18 (tool settings help button): on the button's release opens the manual at HelpTopic
// (nothing while it is empty); the button counts as handled, every other message not.
void v_helpToolSettingsHook(DialogItemMessage* message);
// Hook 9 (generic help button): on the button's release opens NAME.chm, else NAME.hlp (NAME "select"
// in dialogs 18000-18002, else the task's name), searched through TOV_LOCAL, TOV_NETWORK and the
// add-on's directory; "Cannot find the '%s' file." with the last path tried when neither exists.
void v_helpGenericHook(DialogItemMessage* message);

// The build time hour:minute as the About box writes it: "12:05pm", "12:05am", "1:07pm".
std::string s_buildTimeText(int hour, int minute);
// The About box's build line for a compiler date ("Dec  6 2026") and time ("13:07:00"):
// "Product built:  6 December 2026 1:07pm"; the date as given when it cannot be read.
std::string s_buildLine(const char* compilerDate, const char* compilerTime);
// The version line, "10.0a (build 8)".
std::string s_versionLine();
// About command: shows the About box with the product, module, version, description and build line.
void v_aboutShow();

extern "C" {
// The version line and the build line of this build of the add-on (for `pixelmend --version`).
const char* pc_pxmendVersionLine();
const char* pc_pxmendBuildLine();
}
