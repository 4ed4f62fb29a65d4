// The edit context: the raster an edit reads and writes, its record and the running
// command, selected for a scope and restored when the scope ends.
#pragma once

#include "host/mdlraster.h"

struct RasterTarget;

// The editing commands; each value is also the message id of the command's name.
enum EditCommand : int {
    CMD_NONE = 0,
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

// Area modes of the running command (operationMode); 3 and 5 are further stamp and despeckle
// modes that pick a raster like WHOLE_RASTER, 4 starts nothing.
enum AreaMode : int {
    AREA_FENCE = 0,
    AREA_BLOCK = 1,
    AREA_WHOLE_RASTER = 2,
    AREA_PICK_3 = 3,
    AREA_NONE = 4,
    AREA_PICK_5 = 5,
};

// What an edit works on: the attachment, its record, the running command and its area mode.
struct EditContext {
    DgnRasterP raster = nullptr;
    RasterTarget* target = nullptr;
    int command = CMD_NONE;
    int operationMode = AREA_FENCE;

    // True while despeckle runs: monochrome reads and writes then see the ink as white.
    bool b_despeckling() const { return command == CMD_DESPECKLE; }
};

class EditScope;

// Module state: the running command's selection, kept between host events, and the innermost scope.
struct EditContextState {
    EditContext selected;
    EditScope* innermost = nullptr;
};

// The context in force: the innermost scope's, else the running command's selection.
const EditContext& editContext();
// The attachment of the context in force, or null.
DgnRasterP currentRaster();
// The record of the context in force, or null.
RasterTarget* currentTarget();
// The running command (CMD_NONE when none runs).
int activeCommand();
// The running command's area mode.
int operationMode();

// Makes command the running command (the selection and area mode stay until the command sets them).
void v_activeCommandSet(int command);
// Sets the running command's area mode.
void v_operationModeSet(int mode);
// Selects raster and its record (may be null) as the running command's, for later host events.
void v_commandRasterSelect(DgnRasterP raster, RasterTarget* target);
// Forgets every record pointer of the selection and of open scopes (the records were dropped).
void v_editContextForgetTargets();
// Empty context: no command, no raster (load, unload, tests).
void v_editContextReset();

// Selects a raster for the lifetime of the object; the enclosing context comes back when it ends,
// on every path out of the scope. The running command and area mode are those of the enclosing one.
class EditScope {
public:
    // raster with its record (target null: its record from the table, null when it has none).
    explicit EditScope(DgnRasterP raster, RasterTarget* target = nullptr);
    ~EditScope();
    EditScope(const EditScope&) = delete;
    EditScope& operator=(const EditScope&) = delete;

    // Points this scope at another raster (a grown or re-created file) until it ends.
    void v_select(DgnRasterP raster, RasterTarget* target);
    DgnRasterP raster() const { return context_.raster; }
    RasterTarget* target() const { return context_.target; }

private:
    friend const EditContext& editContext();
    friend void v_editContextForgetTargets();
    EditContext context_;
    EditScope* enclosing_;
};
