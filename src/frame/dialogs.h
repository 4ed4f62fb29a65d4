// The frame's dialog services: the tool settings refresh, the dialog hooks and the colour chooser.
#pragma once

#include <cstdint>

#include "host/mdldialog.h"
#include "host/messages.h"

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
