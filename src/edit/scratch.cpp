// The scratch raster area: a raster file of zero pixels, named after the design file, placed by two
// corners in a rectangle of the picked raster's proportions and attached as a working surface.
#include "edit/scratch.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "edit/block.h"
#include "frame/commands.h"
#include "frame/dialogs.h"
#include "host/hostwrap.h"
#include "host/mdlelement.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"

namespace {

// What marks a raster file as the scratch area.
constexpr const char* SCRATCH_SUFFIX = "_pxmend_scratch";

// Module state of the scratch area being placed.
struct ScratchState {
    char fileName[MAXFILELENGTH] = {};  // full path of the scratch file
    DPoint3d firstCorner{};
    double extentX = 0.0, extentY = 0.0;  // the rectangle's sides as last drawn (signed)
    DPoint3d corners[4] = {};             // the rectangle as last drawn
    int pointCounter = 0;
};

ScratchState g_scratch;

// The full path of the active design file into path (MAXFILELENGTH bytes); false without one.
bool b_designFileName(char* path) {
    WChar wide[MAXFILELENGTH] = {};
    if (mdlModelRef_getFileName(mdlModelRef_getActive(), wide, MAXFILELENGTH) != SUCCESS) return false;
    v_narrowCopy(path, MAXFILELENGTH, wide);
    return path[0] != '\0';
}

void v_scratchMessage(const char* format, const char* value) {
    char text[2 * MAXFILELENGTH];
    std::snprintf(text, sizeof text, format, value);
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
}

// Creates path as an empty file when nothing is there yet (an existing file is never emptied).
bool b_fileCreate(const char* path) {
    if (path[0] == '\0') return false;
    std::FILE* file = std::fopen(path, "wbx");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// The rectangle from the first corner toward point, in the proportions of the scratch raster's pixels.
void v_scratchRectangle(const DPoint3d* point) {
    const t_globals& g = s__globals;
    const DPoint3d& p0 = g_scratch.firstCorner;
    double dx = point->x - p0.x, dy = point->y - p0.y;
    const double w = g.ScratchWidth > 0 ? g.ScratchWidth : 1, h = g.ScratchHeight > 0 ? g.ScratchHeight : 1;
    const double rx = dx / w, ry = dy / h;
    // The larger relative offset decides the size; the other side follows with its sign.
    if (std::fabs(rx) >= std::fabs(ry))
        dy = h * rx;
    else
        dx = w * ry;
    g_scratch.extentX = dx;
    g_scratch.extentY = dy;
    DPoint3d* c = g_scratch.corners;
    c[0] = p0;
    c[1] = {p0.x, p0.y + dy, p0.z};
    c[2] = {p0.x + dx, p0.y + dy, p0.z};
    c[3] = {p0.x + dx, p0.y, p0.z};
}

void v_scratchDynamics(const DPoint3d* point, int /*view*/, int drawMode) {
    v_scratchRectangle(point);
    const DPoint3d* c = g_scratch.corners;
    auto shape = std::make_unique<MSElement>();
    if (mdlShape_create(shape.get(), nullptr, c, 4, 0) != 0) return;
    const int color = 0, weight = 0, style = 0;
    mdlElement_setSymbology(shape.get(), &color, &weight, &style);
    mdlElement_display(shape.get(), drawMode);
}

// The rectangle's lower-left corner: corner 0, or a later corner lower and further left than it.
DPoint3d lowerLeftCorner() {
    DPoint3d corner = g_scratch.corners[0];
    for (int i = 1; i < 4; ++i)
        if (g_scratch.corners[i].x < corner.x && g_scratch.corners[i].y < corner.y) corner = g_scratch.corners[i];
    return corner;
}

// Writes the zero raster of the rectangle's pixel size and attaches it at its lower-left corner.
void v_scratchWrite() {
    RasterTarget* target = currentTarget();
    const t_globals& g = s__globals;
    const BitmapSize size{g.ScratchWidth, g.ScratchHeight};
    const double bytes = double(size.width) * double(size.height) * double(target ? target->bitsPerPixel : 1) / 8.0;
    if (!target || size.width <= 0 || size.height <= 0 || bytes > 2147483647.0) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "A scratch raster of %d x %d pixels cannot be made. Please give a width and height of at least "
                      "one pixel and a smaller area.",
                      size.width, size.height);
        j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
        return;
    }
    PixelBuffer zeros(pv_bitmapAlloc(j_bitmapBytes(&size)));
    if (!zeros) {
        v_outputMessageCenter(10, "Not enough memory for the scratch raster.", "", false);
        return;
    }
    DPoint3d origin = lowerLeftCorner();
    // The commit takes the new raster's extent from the pixel size; the picked raster keeps its own.
    const double keptX = target->pixelSizeX, keptY = target->pixelSizeY;
    target->pixelSizeX = std::fabs(g_scratch.extentX) / size.width;
    target->pixelSizeY = std::fabs(g_scratch.extentY) / size.height;
    pv_rasterCommitFile(zeros.get(), &size, &origin, nullptr, g_scratch.fileName, nullptr, true, false, false);
    target->pixelSizeX = keptX;
    target->pixelSizeY = keptY;
}

void v_scratchPoint(const DPoint3d* point, int /*view*/) {
    if (g_scratch.pointCounter == 0) {
        g_scratch.firstCorner = *point;
        g_scratch.pointCounter = 1;
        StateCallback::SetComplexDynamicsFunction(&v_scratchDynamics);
        v_promptShow(rid::PROMPT_SCRATCH_SECOND);
        return;
    }
    v_scratchRectangle(point);
    v_scratchWrite();
    g_scratch.pointCounter = 0;
    mdlState_startDefaultCommand();
}

void v_scratchReset() {
    if (g_scratch.pointCounter == 0) {
        v_rasterPickStart();
        return;
    }
    g_scratch.pointCounter = 0;
    StateCallback::SetComplexDynamicsFunction(nullptr);
    v_promptShow(rid::PROMPT_SCRATCH_FIRST);
}

}  // namespace

DgnRasterP pv_scratchFind() {
    const DgnRasterCollection all = DgnRasterCollection::GetRasters(mdlModelRef_getActive());
    for (auto it = all.begin(); it.IsDifferent(all.end()); it.MoveToNext()) {
        RasterFileInfo info{};
        if (j_rasterFileInfo(&info, it.GetCurrent()) != SUCCESS) continue;
        if (s_narrow(info.fullPath).find(SCRATCH_SUFFIX) != std::string::npos) return it.GetCurrent();
    }
    return nullptr;
}

int j_scratchFilePrepare() {
    char design[MAXFILELENGTH] = {}, device[MAXFILELENGTH] = {}, directory[MAXFILELENGTH] = {};
    char name[MAXFILELENGTH] = {};
    b_designFileName(design);
    v_fileParseName(design, device, directory, name, nullptr);
    std::strncat(name, SCRATCH_SUFFIX, sizeof name - std::strlen(name) - 1);
    char* out = g_scratch.fileName;
    out[0] = '\0';
    const t_globals& g = s__globals;
    switch (g.ScratchDirOption) {
    case 0:
        v_fileBuildName(out, nullptr, directory, name, "tif");
        break;
    case 1:
        v_fileBuildName(out, device, directory, name, "tif");
        break;
    case 2:
        if (g.ScratchDir[0] == '\0') {
            j_messageBox(MSGBOX_NOTICE, "You haven't specified folder for scratch raster.", ICON_ERROR);
            return ERROR;
        }
        v_fileBuildName(out, nullptr, g.ScratchDir, name, "tif");
        break;
    default:
        break;
    }
    char found[MAXFILELENGTH];
    if (out[0] != '\0' && j_fileFind(found, out, nullptr, nullptr) == SUCCESS) return SUCCESS;
    if (b_fileCreate(out)) return SUCCESS;
    if (g.ScratchDirOption == 2)
        v_scratchMessage("Folder for scratch raster \"%s\" is not valid. Please specify valid folder.", g.ScratchDir);
    else
        v_scratchMessage("Unable to create raster scratch file %s.", out);
    return ERROR;
}

void v_scratchAttach() {
    if (pv_scratchFind()) {
        const int answer =
            j_messageBox(MSGBOX_YESNO,
                         "A raster scratch area is already attached. Would you like to detach it? (Only one raster "
                         "scratch area is supported at a time.)",
                         ICON_QUESTION);
        if (answer == ACTIONBUTTON_NO) {
            mdlState_startDefaultCommand();
            return;
        }
        v_scratchDetach(true);
    }
    if (j_scratchFilePrepare() != SUCCESS) {
        mdlState_startDefaultCommand();
        return;
    }
    g_scratch.pointCounter = 0;
    if (const RasterTarget* target = currentTarget()) {
        s__globals.ScratchWidth = static_cast<int>(target->widthPx);
        s__globals.ScratchHeight = static_cast<int>(target->heightPx);
    }
    v_toolSettingsRefresh();
    mdlState_startPrimitive(&v_scratchPoint, &v_scratchReset, activeCommand(), rid::PROMPT_SCRATCH_FIRST);
}

void v_scratchDetach(bool quiet) {
    DgnRasterP scratch = pv_scratchFind();
    if (scratch) {
        mdlRaster_detach(scratch, RASTER_OPTION_UNDOABLE);
        mdlRaster_fileClose(scratch, RASTER_OPTION_UNDOABLE);
        return;
    }
    if (!quiet) j_messageBox(MSGBOX_NOTICE, "Raster scratch area is not attached.", ICON_ERROR);
}
