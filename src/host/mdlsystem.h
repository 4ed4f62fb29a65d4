// System services of the host: resources, command table and command queue,
// tool states, output, configuration, files, models and callbacks.
#pragma once

#include "host/mdltypes.h"

// Message types of mdlOutput_printf and mdlOutput_rscPrintf.
constexpr int MSG_MESSAGE = 0;
constexpr int MSG_ERROR = 1;
constexpr int MSG_PROMPT = 2;
constexpr int MSG_STATUS = 3;
constexpr int MSG_COMMAND = 4;
constexpr int MSG_KEYIN = 5;

// Message-centre priorities.
constexpr int OutputMessagePriority_Error = 10;
constexpr int OutputMessagePriority_Warning = 11;
constexpr int OutputMessagePriority_Info = 12;

// Reasons of the new-design-file callback.
constexpr std::uint32_t SYSTEM_NEWFILE_CLOSE = 0;
constexpr std::uint32_t SYSTEM_NEWFILE_COMPLETE = 1;

// Host command number that unloads the application named by its argument.
constexpr CommandNumber CMD_MDL_UNLOAD = 0x7902000000000000ULL;

// Draw mode passed to complex dynamics: erase-and-redraw dynamics.
constexpr int DRAW_MODE_TempDraw = 3;

// One entry of an application's command-number table; the table ends with a null function.
struct MdlCommandNumber {
    void (*cmdFunc)(WCharCP unparsed);
    CommandNumber cmdNumber;
};

using StateFunc_DataPoint = void (*)(const DPoint3d* point, int view);
using StateFunc_Reset = void (*)();
using StateFunc_Cleanup = void (*)();
using StateFunc_ComplexDynamics = void (*)(const DPoint3d* point, int view, int drawMode);

namespace SystemCallback {
using UnloadProgramFunc = int (*)(int unloadType);
using NewDesignFileFunc = void (*)(WCharCP fileName, std::uint32_t reason);
void SetUnloadProgramFunction(UnloadProgramFunc func);
void SetNewDesignFileFunction(NewDesignFileFunc func);
}  // namespace SystemCallback

namespace StateCallback {
void SetCommandCleanupFunction(StateFunc_Cleanup func);
void SetComplexDynamicsFunction(StateFunc_ComplexDynamics func);
}  // namespace StateCallback

extern "C" {

// Resources and commands of the calling task.
RscFileHandle mdlResource_openFile(RscFileHandle* handle, WCharCP fileName, int accessMode);
int mdlParse_loadCommandTable(RscFileHandle rsc);
int mdlSystem_registerCommandNumbers(const MdlCommandNumber* table);
// Loads a resource (an icon: RTYPE_Icon) of the task; null when it does not exist.
void* mdlResource_load(RscFileHandle rsc, std::uint32_t type, int id);
void mdlResource_free(void* resource);

WCharCP mdlSystem_getCurrTaskID();
// Copies the variable's expanded value (at most size characters); 0 when it is defined.
int mdlSystem_getCfgVar(WCharP value, WCharCP name, int size);
void mdlVersion_getVersionNumbers(VersionNumber* version);

// Command queue and key-ins.
void mdlDialog_cmdNumberQueue(bool atFront, CommandNumber cmdNumber, WCharCP argument, bool fromKeyin);
void mdlInput_sendKeyin(WCharCP keyin, bool literal, int where, WCharCP taskId);
void mdlInput_sendCommand(CommandNumber cmdNumber, WCharCP argument, int where, WCharCP taskId, bool fromKeyin);

// Tool states.
int mdlState_startPrimitive(StateFunc_DataPoint dataPoint, StateFunc_Reset reset, int commandMsgId, int promptMsgId);
void mdlState_startDefaultCommand();
void mdlState_clear();
void mdlState_dynamicUpdate();

// Output.
void mdlOutput_printf(int msgType, WCharCP text);
void mdlOutput_rscPrintf(int msgType, RscFileHandle rsc, int messageListId, int messageId);
void mdlOutput_error(WCharCP text);
void mdlOutput_messageCenter(int priority, WCharCP brief, WCharCP detail, bool openAlert);

// Files on the real file system.
// Finds file (searched along the directories of cfg variable envVar when given); 0 when found.
int mdlFile_find(WCharP expandedName, WCharCP file, WCharCP envVar, WCharCP defaultExt);
int mdlFile_parseName(WCharCP fileName, WCharP device, WCharP directory, WCharP name, WCharP extension);
int mdlFile_buildName(WCharP fileName, WCharCP device, WCharCP directory, WCharCP name, WCharCP extension);
int mdlFile_copy(WCharCP destination, WCharCP source);

// Models and colours.
DgnModelRefP mdlModelRef_getActive();
bool mdlModelRef_isReadOnly(DgnModelRefP model);
// The full path of model's design file (its name resolved against the folder of the design's
// description when relative) into name (size characters, cut to fit); 0, or ERROR without a design.
int mdlModelRef_getFileName(DgnModelRefP model, WCharP name, int size);
// True when model is the active model (not a reference).
bool mdlModelRef_isActiveModel(DgnModelRefP model);
// The element colour index of model's colour table nearest to color.
int mdlColor_elementColorFromRGB(const RGBColorDef* color, DgnModelRefP model);

// Raster services (life cycle only here).
int mdlRaster_initialize();
void mdlRaster_terminate();

// Undo groups.
void mdlUndo_startGroup();
void mdlUndo_endGroup();
int mdlUndo_undoActions(int count);

// The host's last error number.
int mdlErrno_get();

}  // extern "C"
