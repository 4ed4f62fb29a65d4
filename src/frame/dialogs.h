// Dialog services shared by the whole add-on: the message box wrapper, item
// enable/show, the completion bar, the tool settings refresh and the colour chooser.
#pragma once

#include <cstdint>

#include "host/mdldialog.h"

// Message box ids and icons used by the add-on.
constexpr int ICON_INFO = 1;
constexpr int ICON_QUESTION = 2;
constexpr int ICON_WARNING = 3;
constexpr int ICON_ERROR = 4;

// Shows text in message box dialogId with icon; the action of the button that closed it.
int j_messageBox(int dialogId, const char* text, int icon);
// Enables or disables the item of type and id in dialog; nothing when it is missing.
void v_itemEnable(MSDialog* dialog, std::uint32_t type, int id, bool enabled);
// Shows or hides the item of type and id in dialog; nothing when it is missing.
void v_itemShow(MSDialog* dialog, std::uint32_t type, int id, bool shown);

// Completion bar: open with a title, update with a text and percentage, close.
void v_progressOpen(const char* title);
void v_progressUpdate(const char* text, double percent);
void v_progressClose();

// Adapts the tool settings window to the current raster.
void v_toolSettingsRefresh();

// Publishes the add-on's 16 dialog hooks to the host.
void v_dialogHooksPublish();
// Forgets the completion bar, icon handles and custom colours of an earlier load.
void v_dialogsReset();

extern "C" {
// Platform colour chooser started on rgb (red, green, blue, changed in place); 0 chosen, -1 cancelled.
int j_chooseColor(std::uint8_t* rgb);
}
