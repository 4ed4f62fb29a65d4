// The add-on's commands: the command-number table, the command gate that every
// editing command passes, PXMEND_DISABLE, and the running command's state.
#pragma once

#include "host/mdlsystem.h"

// Values of activeCommand: the editing command now running.
enum : int {
    CMD_COPY = 1,
    CMD_MOVE = 2,
    CMD_DELETE = 3,
    CMD_CROP = 4,
    CMD_STAMP = 5,
    CMD_DESKEW = 6,
    CMD_DESPECKLE = 7,
    CMD_BRUSH = 8,
    CMD_RESIZE = 9,
    CMD_SCRATCH_ATTACH = 11,
    CMD_SCRATCH_DETACH = 12,
    CMD_EDIT = 15,
};

// Module state of the commands.
struct CommandState {
    int activeCommand = 0;      // also the message id of the running command's name
    int promptId = 0;           // prompt of the command's later tool states
    int operationMode = 0;      // 0 fence, 1 block, 2 whole raster by pick (3, 5 pick too; 4 nothing)
    int disabledCommands[16] = {};  // by gate slot: 1 when PXMEND_DISABLE switches the command off
};

extern CommandState g_commands;

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
// Hands currentRaster to the operation of activeCommand (view of the pick, 0 without one); 0, or 32768 when refused.
int j_rasterDispatch(int view);
// Name of the editing command activeCommand (its command-name message); "PixelMend" when unknown.
const char* pc_commandName(int activeCommand);
