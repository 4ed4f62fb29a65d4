// The add-on's commands: the command-number table, the command gate that every
// editing command passes, PXMEND_DISABLE, the running command's prompt, and the
// tool states that choose its area or raster.
#pragma once

#include "host/mdlsystem.h"
#include "raster/context.h"

// The running command's prompt (its later tool states show it); the command itself and its area mode
// are in the edit context.
int n_promptId();
// True when PXMEND_DISABLE has switched off the command of gate slot (0-15).
bool b_commandDisabled(int slot);
// Switches off the command of gate slot (0-15; others ignored), as PXMEND_DISABLE does.
void v_commandSlotDisable(int slot);
// Forgets the running command's prompt and the switched-off commands (load, unload, tests).
void v_commandsReset();
// Installs the operation states' entry points that the area and operation handlers return to.
void v_commandStatesInstall();

// Tells the user that the feature named name is still to come (an information box).
void v_featureLater(const char* name);

// The command-number table registered with the host as the last start-up step.
const MdlCommandNumber* pCommandNumberTable();
// Read-only model and PXMEND_DISABLE check of command slot (0-15); name becomes HelpTopic. True to go on.
bool b_commandGate(int slot, const char* name);
// Applies PXMEND_DISABLE to the command flags, the tool box and the pulldown menu.
void v_commandsDisable();
// Starts the area choice of copy, move, delete, crop, stamp and despeckle.
void v_operationStart();
// Starts the raster pick of deskew, brush, resize, edit, scratch attach and the whole-raster modes.
void v_rasterPickStart();
// Starts the operation state on the finished area (fence or block): finds its raster, installs the data point.
void v_fenceOperationStart();
// Reset of the operation states: a new base point, another raster, the end, or a new area.
void v_operationReset();
// Data point of the raster pick: the raster under point in view, then the operation; 0.
int j_rasterPickData(const DPoint3d* point, int view);
// Loads raster's record, selects it as the command's and hands it to the operation of activeCommand (view of
// the pick, 0 without one); 0, or ERROR when refused (the user has been told).
int j_rasterDispatch(DgnRasterP raster, int view);
