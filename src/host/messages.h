// Message boxes, dialog item helpers and the completion bar: the dialog services that
// every part of the add-on uses, built on the host's dialog manager alone.
#pragma once

#include <cstdint>

#include "host/mdldialog.h"

// Message box icons used by the add-on.
constexpr int ICON_INFO = 1;
constexpr int ICON_QUESTION = 2;
constexpr int ICON_WARNING = 3;
constexpr int ICON_ERROR = 4;

// Shows text in message box dialogId with icon; the action of the button that closed it.
int j_messageBox(int dialogId, const char* text, int icon);
// Index of the item of type and id in dialog; -1 when dialog is null or has no such item.
int n_itemIndex(MSDialog* dialog, std::uint32_t type, int id);
// Enables or disables the item of type and id in dialog; nothing when it is missing.
void v_itemEnable(MSDialog* dialog, std::uint32_t type, int id, bool enabled);
// Shows or hides the item of type and id in dialog; nothing when it is missing.
void v_itemShow(MSDialog* dialog, std::uint32_t type, int id, bool shown);

// Completion bar: open with a title (closing one left open), update with a text and percentage
// (nothing when none is open; percent held to a finite range), close (nothing when none is open).
void v_progressOpen(const char* title);
void v_progressUpdate(const char* text, double percent);
void v_progressClose();
// Forgets a completion bar of an earlier load (the host has destroyed it).
void v_progressReset();
