// Look-ups in the add-on's own resources.
#pragma once

// Name of editing command (its message in the command-name list); "PixelMend" when it has none.
const char* pc_commandName(int command);
