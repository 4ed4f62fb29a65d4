// Dialog services shared by the whole add-on, and the dialog hooks of the tool
// box and the tool settings items.
#include "frame/dialogs.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "cleanup/deskew.h"
#include "edit/resize.h"
#include "frame/app.h"
#include "frame/commands.h"
#include "frame/help.h"
#include "host/hostwrap.h"
#include "host/mdlraster.h"
#include "host/winapi.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/dialog.h"
#include "settings/settings.h"

namespace {

// Module state of the dialog services.
struct DialogState {
    void* lockIcons[2] = {nullptr, nullptr};  // unlocked (31), locked (32)
    void* plainIcon = nullptr;                // 29
    COLORREF customColors[16] = {};           // kept by the colour chooser between calls
};

DialogState g_dialogs;

// Redisplays the item of type and id from its bound value; nothing when it is missing.
void v_itemSynch(MSDialog* dialog, std::uint32_t type, int id) {
    const int index = n_itemIndex(dialog, type, id);
    if (index >= 0) mdlDialog_itemSynch(dialog, index);
}

// Rectangle of width x height centred in the item's rectangle.
BSIRect centredRect(const BSIRect& itemRect, int width, int height) {
    const int x = itemRect.origin.x + (itemRect.corner.x - itemRect.origin.x + 1 - width) / 2;
    const int y = itemRect.origin.y + (itemRect.corner.y - itemRect.origin.y + 1 - height) / 2;
    return BSIRect{{x, y}, {x + width - 1, y + height - 1}};
}

void v_iconLoad(void*& handle, int iconId) {
    if (!handle) handle = mdlResource_load(nullptr, RTYPE_Icon, iconId);
}

void v_iconFree(void*& handle) {
    if (handle) mdlResource_free(handle);
    handle = nullptr;
}

void v_lineDraw(MSWindow* window, Point2d from, Point2d to) {
    const Point2d points[2] = {from, to};
    mdlWindow_lineDraw(window, points, 2, 0, 0);
}

// ---- Tool settings refresh -------------------------------------------------------

// Adapts the colour items to the current raster: RGB rasters take the colour swatch,
// palette rasters the colour picker loaded with their palette. False when the raster
// cannot be described (no file information, no palette), so that the no-raster layout applies.
bool b_toolSettingsRasterColors(MSDialog* toolSettings, DgnRasterP raster, bool enableOptions, bool showColor) {
    RasterFileInfo info{};
    if (j_rasterFileInfo(&info, raster) != SUCCESS) return false;
    if (info.colorMode == IMAGECOLOR_RGB || info.colorMode == IMAGECOLOR_RGBA) {
        v_itemShow(toolSettings, RTYPE_ColorPicker, rid::ITEM_COLOR_PICKER, false);
        v_itemShow(toolSettings, RTYPE_Generic, rid::ITEM_COLOR_SWATCH, showColor);
        v_itemEnable(toolSettings, RTYPE_OptionButton, rid::ITEM_COLOR_OPTION, enableOptions);
        return true;
    }
    ColorPaletteEntry palette[256] = {};
    if (mdlRaster_paletteGet(palette, raster) != SUCCESS) return false;
    v_itemShow(toolSettings, RTYPE_Generic, rid::ITEM_COLOR_SWATCH, false);
    v_itemShow(toolSettings, RTYPE_ColorPicker, rid::ITEM_COLOR_PICKER, showColor);
    if (DialogItem* picker = mdlDialog_itemGetByTypeAndId(toolSettings, RTYPE_ColorPicker, rid::ITEM_COLOR_PICKER, 0))
        mdlDialog_colorPickerSetColorTable(picker, palette, 256);
    v_itemEnable(toolSettings, RTYPE_OptionButton, rid::ITEM_COLOR_OPTION, enableOptions);
    return true;
}

// Without a raster there is no colour to pick: both colour items hidden, the option off.
void v_toolSettingsNoRaster(MSDialog* toolSettings) {
    v_itemShow(toolSettings, RTYPE_ColorPicker, rid::ITEM_COLOR_PICKER, false);
    v_itemShow(toolSettings, RTYPE_Generic, rid::ITEM_COLOR_SWATCH, false);
    v_itemEnable(toolSettings, RTYPE_OptionButton, rid::ITEM_COLOR_OPTION, false);
}

// ---- Hooks -----------------------------------------------------------------------------

// Marks the message handled or not, as the host expects of every hook.
void v_understood(DialogItemMessage* message, bool handled) { message->msgUnderstood = handled; }

// Hook 2: with the scale lock on, a changed scale field copies its value to the other one.
void v_scaleHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_STATECHANGED) {
        v_understood(message, false);
        return;
    }
    v_understood(message, true);
    if (!s__globals.ScaleLock || !message->dialogItemP) return;
    if (message->dialogItemP->id == rid::ITEM_SCALE_X) {
        s__globals.ScaleY = s__globals.ScaleX;
        v_itemSynch(message->db, RTYPE_Text, rid::ITEM_SCALE_Y);
    } else if (message->dialogItemP->id == rid::ITEM_SCALE_Y) {
        s__globals.ScaleX = s__globals.ScaleY;
        v_itemSynch(message->db, RTYPE_Text, rid::ITEM_SCALE_X);
    }
}

// Hook 3: the hybrid option needs fence mode with filling; its element option needs hybrid mode.
void v_copyOptionsHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_SYNCHRONIZE:
    case DITEM_MESSAGE_STATECHANGED:
    case DITEM_MESSAGE_ALLCREATED:
        v_itemEnable(message->db, RTYPE_OptionButton, rid::ITEM_HYBRID_MODE,
                     s__globals.ModifyMode == 0 && s__globals.MaskMethod == 1);
        v_itemEnable(message->db, RTYPE_OptionButton, rid::ITEM_HYBRID_ELEMENTS, s__globals.HybridMode == 1);
        v_understood(message, true);
        break;
    default:
        v_understood(message, false);
    }
}

// Hook 4: the scale-lock item draws a bracket joining the two scale fields and a lock
// icon (closed while the lock is on); a click toggles the lock.
void v_scaleLockHook(DialogItemMessage* message) {
    DialogItem* item = message->dialogItemP;
    switch (message->messageType) {
    case DITEM_MESSAGE_CREATE:
        v_iconLoad(g_dialogs.lockIcons[0], rid::ICON_UNLOCKED);
        v_iconLoad(g_dialogs.lockIcons[1], rid::ICON_LOCKED);
        break;
    case DITEM_MESSAGE_DESTROY:
        v_iconFree(g_dialogs.lockIcons[0]);
        v_iconFree(g_dialogs.lockIcons[1]);
        break;
    case DITEM_MESSAGE_DRAW: {
        MSWindow* window = mdlDialog_getWindow(message->db);
        if (!window || !item) break;
        const int x = item->rect.origin.x, y = item->rect.origin.y;
        v_lineDraw(window, {x, y}, {x - 9, y});
        v_lineDraw(window, {x, y}, {x, y + 3});
        v_lineDraw(window, {x, y + 23}, {x - 9, y + 23});
        v_lineDraw(window, {x, y + 23}, {x, y + 19});
        const BSIRect iconRect = centredRect(item->rect, rid::ICON_LOCK_WIDTH, rid::ICON_LOCK_HEIGHT);
        mdlWindow_iconDraw(window, &iconRect, s__globals.ScaleLock ? rid::ICON_LOCKED : rid::ICON_UNLOCKED);
        break;
    }
    case DITEM_MESSAGE_BUTTON:
        if (message->buttonTrans == BUTTONTRANS_UP) {
            s__globals.ScaleLock = !s__globals.ScaleLock;
            mdlDialog_itemDraw(message->db, message->itemIndex);
        }
        break;
    case DITEM_MESSAGE_SYNCHRONIZE:
        mdlDialog_itemDraw(message->db, message->itemIndex);
        break;
    default:
        v_understood(message, false);
        return;
    }
    v_understood(message, true);
}

// Hybrid mode only goes with fence mode and a filling mask method: clears it otherwise.
void v_hybridModeCheck(MSDialog* dialog, bool allowed) {
    if (!allowed) s__globals.HybridMode = 0;
    v_itemSynch(dialog, RTYPE_OptionButton, rid::ITEM_HYBRID_MODE);
}

// Hook 5: a new area mode restarts the command; hybrid mode needs fence mode.
void v_areaModeHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_STATECHANGED:
        v_operationStart();
        [[fallthrough]];
    case DITEM_MESSAGE_ALLCREATED:
        v_hybridModeCheck(message->db, s__globals.ModifyMode == 0);
        v_understood(message, true);
        break;
    default:
        v_understood(message, false);
    }
}

// Hook 6: a typed resize amount; the item's number says which edge (1-4).
void v_resizeFieldHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_STATECHANGED) {
        v_understood(message, false);
        return;
    }
    if (message->reallyChanged && message->dialogItemP)
        v_resizeFieldChanged(static_cast<int>(message->dialogItemP->itemArg));
    v_understood(message, true);
}

// Hook 7: the plain icon item.
void v_plainIconHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_CREATE:
        v_iconLoad(g_dialogs.plainIcon, rid::ICON_PLAIN);
        break;
    case DITEM_MESSAGE_DESTROY:
        v_iconFree(g_dialogs.plainIcon);
        break;
    case DITEM_MESSAGE_DRAW: {
        MSWindow* window = mdlDialog_getWindow(message->db);
        if (window && message->dialogItemP) {
            const BSIRect iconRect =
                centredRect(message->dialogItemP->rect, rid::ICON_PLAIN_WIDTH, rid::ICON_PLAIN_HEIGHT);
            mdlWindow_iconDraw(window, &iconRect, rid::ICON_PLAIN);
        }
        break;
    }
    default:
        v_understood(message, false);
        return;
    }
    v_understood(message, true);
}

// The number given to an item: its numeric value, or its text read as a decimal number.
double d_itemNumber(MSDialog* dialog, int itemIndex) {
    MSValueDescr value;
    WChar text[64] = {};
    if (mdlDialog_itemGetValue(&value, text, dialog, itemIndex, 64) != 0) return 0.0;
    double number = 0.0;
    if (value.kind == MSValueDescr::Double)
        number = value.doubleValue;
    else if (value.kind == MSValueDescr::Long)
        number = static_cast<double>(value.longValue);
    else {
        text[63] = L'\0';
        number = std::strtod(s_narrow(text).c_str(), nullptr);
    }
    return std::isfinite(number) ? number : 0.0;
}

// Hook 10: the typed deskew angle; the apply button needs an angle other than 0.
void v_deskewAngleHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_JUSTIFY:
        s__globals.DeskewAngle = d_itemNumber(message->db, message->itemIndex);
        [[fallthrough]];
    case DITEM_MESSAGE_SYNCHRONIZE:
        v_itemEnable(message->db, RTYPE_PushButton, rid::ITEM_DESKEW_APPLY, s__globals.DeskewAngle != 0.0);
        v_understood(message, true);
        break;
    default:
        v_understood(message, false);
    }
}

// Hook 11: hybrid mode needs a filling mask method; the colour items follow the method.
void v_maskMethodHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_STATECHANGED:
    case DITEM_MESSAGE_ALLCREATED:
        v_hybridModeCheck(message->db, s__globals.MaskMethod > 0);
        if (message->messageType == DITEM_MESSAGE_STATECHANGED) v_toolSettingsRefresh();
        v_understood(message, true);
        break;
    default:
        v_understood(message, false);
    }
}

// Hook 12 (tool box): the user closing the tool box unloads the add-on.
void v_toolBoxHook(DialogMessage* message) {
    if (message->messageType == DIALOG_MESSAGE_DESTROY && message->value2 == DIALOG_CLOSE_BY_USER) {
        v_appUnloadQueue();
        message->msgUnderstood = true;
        return;
    }
    message->msgUnderstood = false;
}

// Hook 13: apply needs a loaded raster and at least one amount to add or remove.
void v_resizeHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_SYNCHRONIZE && message->messageType != DITEM_MESSAGE_ALLCREATED) {
        v_understood(message, false);
        return;
    }
    const t_globals& g = s__globals;
    const bool amounts = g.ResizeRowsEnd || g.ResizeRowsStart || g.ResizeColumnsStart || g.ResizeColumnsEnd;
    v_itemEnable(message->db, RTYPE_PushButton, rid::ITEM_RESIZE_APPLY, currentTarget() != nullptr && amounts);
    v_understood(message, true);
}

// Hook 14: the canvas colour swatch; a click chooses a new colour.
void v_colorSwatchHook(DialogItemMessage* message) {
    DialogItem* item = message->dialogItemP;
    switch (message->messageType) {
    case DITEM_MESSAGE_DRAW: {
        MSWindow* window = mdlDialog_getWindow(message->db);
        if (!window || !item) break;
        mdlDialog_rectDrawBeveled(window, &item->rect, false, false);
        const BSIRect inside{{item->rect.origin.x + 2, item->rect.origin.y + 2},
                             {item->rect.corner.x - 2, item->rect.corner.y - 2}};
        const RGBColorDef color{s__globals.CanvasColor.red, s__globals.CanvasColor.green, s__globals.CanvasColor.blue};
        mdlWindow_rectFillByRGB(window, &inside, &color);
        break;
    }
    case DITEM_MESSAGE_BUTTON:
        if (message->buttonTrans == BUTTONTRANS_UP) {
            std::uint8_t rgb[3] = {s__globals.CanvasColor.red, s__globals.CanvasColor.green,
                                   s__globals.CanvasColor.blue};
            if (j_chooseColor(rgb) == 0) {
                s__globals.CanvasColor = CanvasRgb{rgb[0], rgb[1], rgb[2]};
                mdlDialog_itemDraw(message->db, message->itemIndex);
            }
        }
        break;
    default:
        v_understood(message, false);
        return;
    }
    v_understood(message, true);
}

// Hook 16: writing to a new file and enlarging the destination exclude each other.
void v_resizeTogglesHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_STATECHANGED || !message->dialogItemP) {
        v_understood(message, false);
        return;
    }
    const int id = message->dialogItemP->id;
    if (id == rid::ITEM_TOGGLE_NEW_FILE && s__globals.CreateNewFile) {
        s__globals.ResizeDestination = 0;
        v_itemSynch(message->db, RTYPE_ToggleButton, rid::ITEM_TOGGLE_ENLARGE);
    } else if (id == rid::ITEM_TOGGLE_ENLARGE && s__globals.ResizeDestination) {
        s__globals.CreateNewFile = 0;
        v_itemSynch(message->db, RTYPE_ToggleButton, rid::ITEM_TOGGLE_NEW_FILE);
    }
    v_understood(message, true);
}

// Hook 19: the canvas colour option shows or hides the colour items.
void v_colorOptionHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_STATECHANGED) {
        v_understood(message, false);
        return;
    }
    v_toolSettingsRefresh();
    v_understood(message, true);
}

}  // namespace

void v_toolSettingsRefresh() {
    MSDialog* toolSettings = mdlDialog_getToolSettings();
    if (!toolSettings) return;
    bool enableOptions = true;
    bool showColor = s__globals.CanvasAuto == 0;
    if (activeCommand() == CMD_DELETE && s__globals.MaskMethod == 0) enableOptions = showColor = false;
    DgnRasterP raster = currentRaster();
    if (!raster || !b_toolSettingsRasterColors(toolSettings, raster, enableOptions, showColor))
        v_toolSettingsNoRaster(toolSettings);
    mdlDialog_adjustPopDownHeight(toolSettings);
    mdlDialog_itemsSynch(toolSettings);
}

void v_dialogHooksPublish() {
    static const DialogHookInfo hooks[] = {
        {rid::HOOK_SCALE, &v_scaleHook, nullptr},
        {rid::HOOK_COPY_OPTIONS, &v_copyOptionsHook, nullptr},
        {rid::HOOK_SCALE_LOCK, &v_scaleLockHook, nullptr},
        {rid::HOOK_AREA_MODE, &v_areaModeHook, nullptr},
        {rid::HOOK_RESIZE_FIELD, &v_resizeFieldHook, nullptr},
        {rid::HOOK_PLAIN_ICON, &v_plainIconHook, nullptr},
        {rid::HOOK_HELP_GENERIC, &v_helpGenericHook, nullptr},
        {rid::HOOK_DESKEW_ANGLE, &v_deskewAngleHook, nullptr},
        {rid::HOOK_MASK_METHOD, &v_maskMethodHook, nullptr},
        {rid::HOOK_TOOLBOX, nullptr, &v_toolBoxHook},
        {rid::HOOK_RESIZE, &v_resizeHook, nullptr},
        {rid::HOOK_COLOR_SWATCH, &v_colorSwatchHook, nullptr},
        {rid::HOOK_RESIZE_TOGGLES, &v_resizeTogglesHook, nullptr},
        {rid::HOOK_DESKEW_SETTINGS, &v_deskewSettingsHook, nullptr},
        {rid::HOOK_HELP_TOOLSETTINGS, &v_helpToolSettingsHook, nullptr},
        {rid::HOOK_COLOR_OPTION, &v_colorOptionHook, nullptr},
    };
    mdlDialog_hookPublish(static_cast<int>(std::size(hooks)), hooks);
}

void v_dialogsReset() {
    // Handles of an earlier load belonged to dialogs the host has already destroyed.
    g_dialogs = DialogState{};
    v_progressReset();
    v_settingsDialogReset();
}

extern "C" int j_chooseColor(std::uint8_t* rgb) {
    if (!rgb) return -1;
    CHOOSECOLORA choose{};
    choose.lStructSize = sizeof(choose);
    choose.rgbResult = rgb[0] + rgb[1] * 256u + rgb[2] * 65536u;
    choose.lpCustColors = g_dialogs.customColors;
    choose.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!ChooseColorA(&choose)) return -1;
    rgb[0] = static_cast<std::uint8_t>(choose.rgbResult & 0xFF);
    rgb[1] = static_cast<std::uint8_t>((choose.rgbResult >> 8) & 0xFF);
    rgb[2] = static_cast<std::uint8_t>((choose.rgbResult >> 16) & 0xFF);
    return 0;
}
