// Dialogs of the substitute host: dialogs and tool boxes made from the task's
// resources, their items with enabled and shown state and values, hooks and
// the messages they receive, the tool settings window, item drawing and the
// command window's menu bar.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "subhost/state.h"

namespace subhost {

namespace {

constexpr int kItemLeft = 10;
constexpr int kItemTop = 10;
constexpr int kItemWidth = 120;
constexpr int kItemHeight = 24;
constexpr int kItemPitch = 30;

const char* optionLabel(const rsc::Item& item, long value) {
    for (const auto& choice : item.choices)
        if (choice.value == value) return choice.label;
    return nullptr;
}

// A menu bar of the task's menus that sit in menu bar item barItem (0: the command window's).
void fillMenuBar(RawItemHdr& bar, int barItem) {
    const auto* file = host().app.resources;
    if (!file) return;
    for (const auto& menu : file->menus) {
        if (menu.menuBarItem != barItem) continue;
        auto pdm = std::make_unique<TextPDM>();
        pdm->rsc = &menu;
        for (const auto& item : menu.items) {
            pdm->items.push_back(std::make_unique<TextPDMItem>());
            pdm->items.back()->rsc = &item;
        }
        bar.menus.push_back(std::move(pdm));
    }
}

// The item's binding, resolved once the record is published.
std::optional<ItemBinding>& itemBinding(ItemInstance& it) {
    if (!it.binding && it.rsc && it.rsc->access && *it.rsc->access) it.binding = bindAccess(it.rsc->access);
    return it.binding;
}

// Refreshes the value an item shows from the field it is bound to.
void loadItem(ItemInstance& it) {
    auto& binding = itemBinding(it);
    if (!binding) return;
    loadFromBinding(*binding, it.value, it.text);
    if (it.rsc && it.rsc->type == RTYPE_OptionButton) {
        const char* label = optionLabel(*it.rsc, it.value.longValue);
        if (label) it.text = widen(label);
    }
}

std::unique_ptr<ItemInstance> makeItem(MSDialog* db, const rsc::Item& rscItem, int index) {
    auto it = std::make_unique<ItemInstance>();
    it->rsc = &rscItem;
    it->enabled = rscItem.enabled;
    it->shown = rscItem.shown;
    const int top = kItemTop + kItemPitch * index;
    it->item = DialogItem{rscItem.type,
                          rscItem.id,
                          index,
                          rscItem.itemArg,
                          BSIRect{{kItemLeft, top}, {kItemLeft + kItemWidth - 1, top + kItemHeight - 1}},
                          nullptr};
    it->raw = std::make_shared<RawItemHdr>();
    it->item.rawItemP = it->raw.get();
    if (rscItem.type == RTYPE_MenuBar) fillMenuBar(*it->raw, rscItem.id);
    if (rscItem.type == RTYPE_OptionButton && !rscItem.choices.empty()) {
        it->value.kind = MSValueDescr::Long;
        it->value.longValue = rscItem.choices.front().value;
        it->text = widen(rscItem.choices.front().label);
    } else if (rscItem.type == RTYPE_ToggleButton || rscItem.type == RTYPE_ListBox ||
               rscItem.type == RTYPE_ColorPicker) {
        it->value.kind = MSValueDescr::Long;
    }
    (void)db;
    loadItem(*it);
    return it;
}

DialogMessage sendDialogMessage(MSDialog* db, int type, int value1 = 0, int value2 = 0) {
    DialogMessage msg{type, db, db->id, true, 0, value1, value2, false};
    if (!db->rsc || db->rsc->hookId == 0) return msg;
    const auto& hooks = host().app.hooks;
    auto hook = hooks.find(db->rsc->hookId);
    if (hook != hooks.end() && hook->second.dialogHook) hook->second.dialogHook(&msg);
    return msg;
}

DialogItemMessage sendItemMessage(MSDialog* db, int index, int type, int buttonTrans = 0, bool reallyChanged = false) {
    DialogItemMessage msg{type, db, nullptr, index, true, buttonTrans, reallyChanged, false};
    if (index < 0 || index >= static_cast<int>(db->items.size())) return msg;
    ItemInstance& it = *db->items[index];
    msg.dialogItemP = &it.item;
    if (!it.rsc || it.rsc->hookId == 0) return msg;
    const auto& hooks = host().app.hooks;
    auto hook = hooks.find(it.rsc->hookId);
    if (hook != hooks.end() && hook->second.itemHook) hook->second.itemHook(&msg);
    return msg;
}

void drawItem(MSDialog* db, int index) {
    if (index < 0 || index >= static_cast<int>(db->items.size())) return;
    db->items[index]->drawing.clear();
    const int previous = db->drawingItem;
    db->drawingItem = index;
    sendItemMessage(db, index, DITEM_MESSAGE_DRAW);
    db->drawingItem = previous;
}

// Fills db with the items of rscDialog and sends the create messages.
void populate(MSDialog* db, const rsc::Dialog* rscDialog) {
    db->rsc = rscDialog;
    db->id = rscDialog ? rscDialog->id : 0;
    if (!rscDialog) return;
    if (!db->toolSettings) db->title = widen(rscDialog->title);
    for (std::size_t i = 0; i < rscDialog->items.size(); ++i)
        db->items.push_back(makeItem(db, rscDialog->items[i], int(i)));
    sendDialogMessage(db, DIALOG_MESSAGE_CREATE);
    for (std::size_t i = 0; i < db->items.size(); ++i) sendItemMessage(db, int(i), DITEM_MESSAGE_CREATE);
    for (std::size_t i = 0; i < db->items.size(); ++i) sendItemMessage(db, int(i), DITEM_MESSAGE_ALLCREATED);
}

void drawAll(MSDialog* db) {
    for (std::size_t i = 0; i < db->items.size(); ++i)
        if (db->items[i]->shown) drawItem(db, int(i));
}

// Sends the destroy messages and takes the items away (kept alive until the entry returns).
void depopulate(MSDialog* db, int action, int closeReason) {
    if (!db->rsc) return;
    sendDialogMessage(db, DIALOG_MESSAGE_DESTROY, action, closeReason);
    for (std::size_t i = 0; i < db->items.size(); ++i) sendItemMessage(db, int(i), DITEM_MESSAGE_DESTROY);
    auto& retired = host().dialogs.retiredItems;
    for (auto& it : db->items) retired.push_back(std::move(it));
    db->items.clear();
}

void showDialog(MSDialog* db) {
    db->shown = true;
    recordEvent({{"event", "dialog"}, {"action", "opened"}, {"id", db->id}, {"title", utf8(db->title)}});
    drawAll(db);
}

void openToolSettings() {
    auto& ds = host().dialogs;
    if (ds.toolSettingsOpen) return;
    ds.toolSettingsOpen = true;
    ds.toolSettings = std::make_unique<MSDialog>();
    MSDialog* db = ds.toolSettings.get();
    db->toolSettings = true;
    db->shown = true;
    db->title = L"Tool Settings";
    db->window.dialog = db;
    recordEvent({{"event", "toolSettings"}, {"action", "opened"}, {"dialog", ds.toolSettingsContent}});
    if (ds.toolSettingsContent != 0) {
        populate(db, findRscDialog(ds.toolSettingsContent));
        drawAll(db);
    }
}

void closeToolSettings(int closeReason) {
    auto& ds = host().dialogs;
    if (!ds.toolSettingsOpen) return;
    MSDialog* db = ds.toolSettings.get();
    depopulate(db, 0, closeReason);
    ds.toolSettingsOpen = false;
    ds.retired.push_back(std::move(ds.toolSettings));
    recordEvent({{"event", "toolSettings"}, {"action", "closed"}});
}

// The dialog a session names: a dialog id or "toolsettings"; null with *error.
MSDialog* resolveDialog(const std::string& name, bool shownOnly, std::string* error) {
    std::string lowered = name;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lowered == "toolsettings") {
        MSDialog* db = mdlDialog_getToolSettings();
        if (!db && error) *error = "the tool settings window is not open";
        return db;
    }
    char* end = nullptr;
    const long id = std::strtol(name.c_str(), &end, 0);
    if (name.empty() || *end != 0) {
        if (error) *error = "\"" + name + "\" is not a dialog id or toolsettings";
        return nullptr;
    }
    MSDialog* db = existingDialog(static_cast<int>(id), shownOnly);
    if (!db && error) *error = "dialog " + name + " is not open";
    return db;
}

// The item of type and id in db; -1 with *error.
int resolveItem(MSDialog* db, std::uint32_t type, int id, std::string* error) {
    for (std::size_t i = 0; i < db->items.size(); ++i)
        if (db->items[i]->item.type == type && db->items[i]->item.id == id) return static_cast<int>(i);
    if (error) *error = "no item " + typeCode(type) + " " + std::to_string(id) + " in dialog " + std::to_string(db->id);
    return -1;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// What a user typing or picking value gives the item; false with *error when the item cannot take it.
bool userValue(ItemInstance& it, const std::string& value, MSValueDescr& out, std::wstring& text, std::string* error) {
    const std::uint32_t type = it.item.type;
    out = MSValueDescr{};
    char* end = nullptr;
    if (type == RTYPE_OptionButton) {
        for (const auto& choice : it.rsc->choices) {
            if (lower(choice.label ? choice.label : "") == lower(value) ||
                (std::strtol(value.c_str(), &end, 0),
                 !value.empty() && *end == 0 && std::strtol(value.c_str(), nullptr, 0) == choice.value)) {
                out.kind = MSValueDescr::Long;
                out.longValue = choice.value;
                text = widen(choice.label);
                return true;
            }
        }
        std::string labels;
        for (const auto& choice : it.rsc->choices)
            labels += (labels.empty() ? "" : ", ") + std::string(choice.label ? choice.label : "") + "=" +
                      std::to_string(choice.value);
        if (error) *error = "option button has no choice \"" + value + "\" (choices: " + labels + ")";
        return false;
    }
    if (type == RTYPE_ToggleButton || type == RTYPE_ListBox || type == RTYPE_ColorPicker) {
        const std::string v = lower(value);
        long number = 0;
        if (type == RTYPE_ToggleButton && (v == "on" || v == "true")) {
            number = 1;
        } else if (type == RTYPE_ToggleButton && (v == "off" || v == "false")) {
            number = 0;
        } else {
            number = std::strtol(value.c_str(), &end, 0);
            if (value.empty() || *end != 0) {
                if (error) *error = typeCode(type) + " item needs a whole number, not \"" + value + "\"";
                return false;
            }
        }
        if (type == RTYPE_ToggleButton) number = number != 0;
        if (type == RTYPE_ColorPicker && it.paletteSize > 0 && (number < 0 || number >= it.paletteSize)) {
            if (error)
                *error = "colour index " + std::to_string(number) + " is outside the picker's " +
                         std::to_string(it.paletteSize) + " colours";
            return false;
        }
        out.kind = MSValueDescr::Long;
        out.longValue = number;
        text = widen(std::to_string(number));
        return true;
    }
    if (type == RTYPE_PushButton || type == RTYPE_IconCmd || type == RTYPE_Generic || type == RTYPE_Label) {
        if (error) *error = typeCode(type) + " item takes no value";
        return false;
    }
    // Text items: the typed text, checked against the field it is bound to.
    text = widen(value);
    out.kind = MSValueDescr::String;
    auto& binding = itemBinding(it);
    if (binding && binding->field) {
        switch (binding->field->kind) {
        case rsc::FieldKind::Int32: {
            const long number = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != 0) {
                if (error) *error = "\"" + value + "\" is not a whole number";
                return false;
            }
            out.kind = MSValueDescr::Long;
            out.longValue = number;
            break;
        }
        case rsc::FieldKind::Double: {
            const double number = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != 0 || !std::isfinite(number)) {
                if (error) *error = "\"" + value + "\" is not a number";
                return false;
            }
            out.kind = MSValueDescr::Double;
            out.doubleValue = number;
            // A slider stops at its ends: 0 and the upper limit the application set.
            if (type == RTYPE_Scale)
                out.doubleValue = std::clamp(number, 0.0, std::max(0.0, it.scaleMaximum.value_or(number)));
            break;
        }
        default:
            break;
        }
    }
    return true;
}

bool sameValue(const MSValueDescr& a, const std::wstring& ta, const MSValueDescr& b, const std::wstring& tb) {
    return a.kind == b.kind && a.longValue == b.longValue && a.doubleValue == b.doubleValue && ta == tb;
}

// Input goes to item index: it takes the focus (121) unless it has it.
void focusItem(MSDialog* db, int index) {
    if (db->focusIndex == index) return;
    db->focusIndex = index;
    sendItemMessage(db, index, DITEM_MESSAGE_FOCUSIN);
}

// A user's edit of item index: value given (59), stored (61), state changed (71).
void userEdit(MSDialog* db, int index, const MSValueDescr& value, const std::wstring& text) {
    ItemInstance* it = db->items[index].get();
    const MSValueDescr oldValue = it->value;
    const std::wstring oldText = it->text;
    auto& binding = itemBinding(*it);
    const nlohmann::json oldStored = binding ? fieldJson(*binding) : nlohmann::json();
    it->value = value;
    it->text = text;
    // A list box row is picked; other items are given a value.
    sendItemMessage(db, index, it->item.type == RTYPE_ListBox ? DITEM_MESSAGE_LISTSELECT : DITEM_MESSAGE_JUSTIFY);
    if (index >= static_cast<int>(db->items.size()) || db->items[index].get() != it)
        return;  // the hook replaced the items
    if (binding) {
        storeToBinding(*binding, it->value, it->text);
        loadItem(*it);
    }
    sendItemMessage(db, index, DITEM_MESSAGE_SETSTATE);
    if (index >= static_cast<int>(db->items.size()) || db->items[index].get() != it) return;
    const bool changed =
        binding ? fieldJson(*binding) != oldStored : !sameValue(oldValue, oldText, it->value, it->text);
    sendItemMessage(db, index, DITEM_MESSAGE_STATECHANGED, 0, changed);
}

nlohmann::json valueJson(const ItemInstance& it) {
    switch (it.value.kind) {
    case MSValueDescr::Long:
        return it.value.longValue;
    case MSValueDescr::Double:
        return it.value.doubleValue;
    case MSValueDescr::String:
        return utf8(it.text);
    default:
        return nullptr;
    }
}

ItemInstance* findItemInstance(const DialogItem* item) {
    if (!item) return nullptr;
    auto search = [&](MSDialog* db) -> ItemInstance* {
        if (!db) return nullptr;
        for (auto& it : db->items)
            if (&it->item == item) return it.get();
        return nullptr;
    };
    for (auto& db : host().dialogs.dialogs)
        if (auto* it = search(db.get())) return it;
    return search(host().dialogs.toolSettings.get());
}

bool validDialog(MSDialog* db) {
    if (!db) return false;
    if (db == host().dialogs.toolSettings.get()) return true;
    for (auto& d : host().dialogs.dialogs)
        if (d.get() == db) return true;
    return false;
}

bool validIndex(MSDialog* db, int index) {
    return validDialog(db) && index >= 0 && index < static_cast<int>(db->items.size());
}

// Where drawing calls of window go: the item being drawn, else the dialog.
std::vector<DrawRecord>* drawTarget(MSWindow* window) {
    if (!window || !validDialog(window->dialog)) return nullptr;
    MSDialog* db = window->dialog;
    if (db->drawingItem >= 0 && db->drawingItem < static_cast<int>(db->items.size()))
        return &db->items[db->drawingItem]->drawing;
    return &db->drawing;
}

// The command window's menu bar, or the raw header of a menu bar item of an open dialog.
bool validMenuBar(RawItemHdr* menuBar) {
    if (!menuBar) return false;
    if (menuBar == &host().dialogs.menuBar) return true;
    for (auto& db : host().dialogs.dialogs)
        for (auto& it : db->items)
            if (it->item.type == RTYPE_MenuBar && it->raw.get() == menuBar) return true;
    return false;
}

// The application's string list when it still exists; null when it was destroyed.
StringList* liveStringList(StringList* list) {
    if (!list) return nullptr;
    return host().misc.stringLists.count(list) ? list : nullptr;
}

// A list box's rows as the user sees them: one array of column texts a row.
nlohmann::json listRowsJson(const ItemInstance& it) {
    nlohmann::json rows = nlohmann::json::array();
    StringList* list = liveStringList(it.listStrings);
    if (!list) return rows;
    const int columns = std::max(1, it.listColumns);
    for (std::size_t at = 0; at + columns <= list->members.size(); at += columns) {
        nlohmann::json row = nlohmann::json::array();
        for (int c = 0; c < columns; ++c) row.push_back(utf8(list->members[at + c].text));
        rows.push_back(std::move(row));
    }
    return rows;
}

nlohmann::json rectJson(const BSIRect* r) {
    return r ? nlohmann::json{r->origin.x, r->origin.y, r->corner.x, r->corner.y} : nlohmann::json();
}

}  // namespace

// ---- Shared dialog services ----

const rsc::Dialog* findRscDialog(int id) {
    const auto* file = host().app.resources;
    if (!file) return nullptr;
    for (const auto& d : file->dialogs)
        if (d.id == id) return &d;
    return nullptr;
}

MSDialog* createDialog(const rsc::Dialog* rscDialog, bool show) {
    auto& dialogs = host().dialogs.dialogs;
    dialogs.push_back(std::make_unique<MSDialog>());
    MSDialog* db = dialogs.back().get();
    db->window.dialog = db;
    populate(db, rscDialog);
    if (show && validDialog(db)) showDialog(db);
    return validDialog(db) ? db : nullptr;
}

void closeDialogNow(MSDialog* db, int action, int closeReason) {
    if (!validDialog(db)) return;
    if (db->toolSettings) {
        closeToolSettings(closeReason);
        return;
    }
    depopulate(db, action, closeReason);
    auto& dialogs = host().dialogs.dialogs;
    auto found = std::find_if(dialogs.begin(), dialogs.end(), [&](const auto& d) { return d.get() == db; });
    if (found == dialogs.end()) return;
    if (db->shown) recordEvent({{"event", "dialog"}, {"action", "closed"}, {"id", db->id}});
    host().dialogs.retired.push_back(std::move(*found));
    dialogs.erase(found);
}

MSDialog* existingDialog(int id, bool shownOnly) {
    auto& dialogs = host().dialogs.dialogs;
    MSDialog* hidden = nullptr;
    for (auto d = dialogs.rbegin(); d != dialogs.rend(); ++d) {
        if ((*d)->id != id) continue;
        if ((*d)->shown) return d->get();
        if (!hidden) hidden = d->get();
    }
    return shownOnly ? nullptr : hidden;
}

void closeAllDialogs() {
    // The tool settings window is the host's: it stays open, empty.
    auto& ds = host().dialogs;
    ds.toolSettingsContent = 0;
    if (ds.toolSettingsOpen && ds.toolSettings->rsc) {
        depopulate(ds.toolSettings.get(), 0, 0);
        ds.toolSettings->rsc = nullptr;
        ds.toolSettings->id = 0;
        recordEvent({{"event", "toolSettings"}, {"action", "show"}, {"dialog", 0}});
    }
    auto& dialogs = host().dialogs.dialogs;
    while (!dialogs.empty()) closeDialogNow(dialogs.back().get(), 0, 0);
}

void switchToolSettings(int dialogId) {
    auto& ds = host().dialogs;
    if (ds.toolSettingsContent == dialogId && ds.toolSettingsOpen && ds.toolSettings->rsc) return;
    ds.toolSettingsContent = dialogId;
    if (!ds.toolSettingsOpen) return;
    MSDialog* db = ds.toolSettings.get();
    depopulate(db, 0, 0);
    recordEvent({{"event", "toolSettings"}, {"action", "show"}, {"dialog", dialogId}});
    populate(db, findRscDialog(dialogId));
    drawAll(db);
}

void installMenus() {
    const auto* file = host().app.resources;
    if (!file) return;
    auto& bar = host().dialogs.menuBar;
    for (const auto& menu : file->menus) {
        if (menu.menuBarItem != 0) continue;  // a dialog's own menu bar
        auto pdm = std::make_unique<TextPDM>();
        pdm->rsc = &menu;
        for (const auto& item : menu.items) {
            pdm->items.push_back(std::make_unique<TextPDMItem>());
            pdm->items.back()->rsc = &item;
        }
        bar.menus.push_back(std::move(pdm));
        recordEvent({{"event", "menu"}, {"action", "installed"}, {"id", menu.id}, {"title", utf8Narrow(menu.title)}});
    }
}

void removeAllMenus() {
    auto& bar = host().dialogs.menuBar;
    for (auto& menu : bar.menus) recordEvent({{"event", "menu"}, {"action", "removed"}, {"id", menu->rsc->id}});
    bar.menus.clear();
}

// ---- Test-facing API ----

void toolSettings(bool open) {
    hostEntry([&] {
        if (open)
            openToolSettings();
        else
            closeToolSettings(DIALOG_CLOSE_BY_USER);
    });
}

bool itemSet(const std::string& dialog, std::uint32_t type, int id, const std::string& value, std::string* error) {
    bool ok = false;
    hostEntry([&] {
        MSDialog* db = resolveDialog(dialog, true, error);
        if (!db) return;
        const int index = resolveItem(db, type, id, error);
        if (index < 0) return;
        ItemInstance& it = *db->items[index];
        if (!it.enabled || !it.shown) {
            if (error)
                *error =
                    "item " + typeCode(type) + " " + std::to_string(id) + " is " + (it.shown ? "disabled" : "hidden");
            return;
        }
        MSValueDescr newValue;
        std::wstring newText;
        if (!userValue(it, value, newValue, newText, error)) return;
        focusItem(db, index);
        if (!validIndex(db, index) || db->items[index].get() != &it) return;
        userEdit(db, index, newValue, newText);
        ok = true;
    });
    return ok;
}

bool itemPress(const std::string& dialog, std::uint32_t type, int id, std::string* error) {
    bool ok = false;
    hostEntry([&] {
        MSDialog* db = resolveDialog(dialog, true, error);
        if (!db) return;
        const int index = resolveItem(db, type, id, error);
        if (index < 0) return;
        ItemInstance* it = db->items[index].get();
        if (!it->enabled || !it->shown) {
            if (error)
                *error =
                    "item " + typeCode(type) + " " + std::to_string(id) + " is " + (it->shown ? "disabled" : "hidden");
            return;
        }
        ok = true;
        const rsc::Item* rscItem = it->rsc;
        focusItem(db, index);
        if (!validIndex(db, index) || db->items[index].get() != it) return;
        sendItemMessage(db, index, DITEM_MESSAGE_BUTTON, BUTTONTRANS_DOWN);
        if (!validIndex(db, index) || db->items[index].get() != it) return;
        sendItemMessage(db, index, DITEM_MESSAGE_BUTTON, BUTTONTRANS_UP);
        if (!validIndex(db, index) || db->items[index].get() != it) return;
        if (type == RTYPE_ToggleButton) {
            MSValueDescr flipped;
            flipped.kind = MSValueDescr::Long;
            flipped.longValue = it->value.longValue ? 0 : 1;
            userEdit(db, index, flipped, widen(std::to_string(flipped.longValue)));
            return;
        }
        if (rscItem->command != 0)
            host().commands.queue.push_back({QueuedWork::Command, rscItem->command, "", nullptr});
        if (type == RTYPE_PushButton && rscItem->action != 0 && !db->toolSettings) {
            const DialogMessage msg = sendDialogMessage(db, DIALOG_MESSAGE_ACTIONBUTTON, rscItem->action);
            if (!msg.abortAction) closeDialogNow(db, rscItem->action, 0);
        }
    });
    return ok;
}

bool setField(const std::string& field, const std::string& value, std::string* error) {
    bool ok = false;
    hostEntry([&] {
        const auto binding = namedField(field, error);
        if (!binding) return;
        // An open, enabled item bound to the element takes the value as a user's edit would.
        std::vector<MSDialog*> open;
        if (MSDialog* ts = mdlDialog_getToolSettings()) open.push_back(ts);
        for (auto& d : host().dialogs.dialogs)
            if (d->shown) open.push_back(d.get());
        for (MSDialog* db : open) {
            for (std::size_t i = 0; i < db->items.size(); ++i) {
                ItemInstance& it = *db->items[i];
                const auto& b = itemBinding(it);
                if (!b || b->field != binding->field || b->index != binding->index || !it.enabled || !it.shown)
                    continue;
                if (it.item.type == RTYPE_PushButton || it.item.type == RTYPE_Generic ||
                    it.item.type == RTYPE_IconCmd || it.item.type == RTYPE_Label)
                    continue;
                MSValueDescr newValue;
                std::wstring newText;
                if (!userValue(it, value, newValue, newText, error)) return;
                userEdit(db, static_cast<int>(i), newValue, newText);
                ok = true;
                return;
            }
        }
        ok = storeTyped(*binding, value, error);
    });
    return ok;
}

bool closeDialog(const std::string& dialog, std::string* error) {
    bool ok = false;
    hostEntry([&] {
        MSDialog* db = resolveDialog(dialog, true, error);
        if (!db) return;
        closeDialogNow(db, 0, DIALOG_CLOSE_BY_USER);
        ok = true;
    });
    return ok;
}

nlohmann::json dumpMenus() {
    nlohmann::json menus = nlohmann::json::array();
    for (const auto& menu : host().dialogs.menuBar.menus) {
        nlohmann::json items = nlohmann::json::array();
        for (const auto& item : menu->items)
            items.push_back({{"label", utf8Narrow(item->rsc->label)},
                             {"searchValue", item->rsc->searchValue},
                             {"enabled", item->enabled},
                             {"mark", item->mark}});
        menus.push_back({{"id", menu->rsc->id}, {"title", utf8Narrow(menu->rsc->title)}, {"items", std::move(items)}});
    }
    nlohmann::json event{{"event", "menus"}, {"menus", std::move(menus)}};
    recordEvent(event);
    return event;
}

nlohmann::json dumpItems(const std::string& dialog) {
    std::string error;
    MSDialog* db = resolveDialog(dialog, false, &error);
    nlohmann::json event{{"event", "items"}, {"dialog", dialog}};
    if (!db) {
        event["error"] = error;
        recordEvent(event);
        return event;
    }
    event["id"] = db->id;
    event["title"] = utf8(db->title);
    nlohmann::json items = nlohmann::json::array();
    for (const auto& it : db->items) {
        nlohmann::json item{{"index", it->item.itemIndex}, {"type", typeCode(it->item.type)},
                            {"id", it->item.id},           {"label", utf8Narrow(it->rsc ? it->rsc->label : "")},
                            {"enabled", it->enabled},      {"shown", it->shown},
                            {"value", valueJson(*it)}};
        if (it->value.kind != MSValueDescr::String && !it->text.empty()) item["text"] = utf8(it->text);
        if (!it->drawing.empty()) item["drawing"] = it->drawing;
        if (it->paletteSize > 0) item["palette"] = it->paletteSize;
        if (it->scaleMaximum) item["scale"] = {{"maximum", *it->scaleMaximum}, {"label", utf8(it->scaleLabel)}};
        if (it->item.type == RTYPE_ListBox) item["rows"] = listRowsJson(*it);
        if (it->item.type == RTYPE_MenuBar) {
            nlohmann::json menus = nlohmann::json::array();
            for (const auto& menu : it->raw->menus)
                for (const auto& entry : menu->items)
                    menus.push_back({{"menu", menu->rsc->id},
                                     {"label", utf8Narrow(entry->rsc->label)},
                                     {"searchValue", entry->rsc->searchValue},
                                     {"mark", entry->mark}});
            item["menu"] = std::move(menus);
        }
        items.push_back(std::move(item));
    }
    event["items"] = std::move(items);
    if (!db->drawing.empty()) event["drawing"] = db->drawing;
    recordEvent(event);
    return event;
}

}  // namespace subhost

// ---- Host calls ----

using namespace subhost;

extern "C" {

MSDialog* mdlDialog_open(RscFileHandle /*rsc*/, int dialogId) {
    if (MSDialog* open = existingDialog(dialogId, true)) return open;
    const rsc::Dialog* rscDialog = findRscDialog(dialogId);
    if (!rscDialog) {
        hostFail(HOSTERR_NoResource);
        return nullptr;
    }
    return createDialog(rscDialog, true);
}

MSDialog* mdlDialog_create(RscFileHandle /*rsc*/, int dialogId) {
    const rsc::Dialog* rscDialog = findRscDialog(dialogId);
    if (!rscDialog) {
        hostFail(HOSTERR_NoResource);
        return nullptr;
    }
    return createDialog(rscDialog, false);
}

MSDialog* mdlDialog_find(int dialogId, WCharCP /*taskId*/) { return existingDialog(dialogId, false); }

MSDialog* mdlDialog_getToolSettings() {
    auto& ds = host().dialogs;
    return ds.toolSettingsOpen ? ds.toolSettings.get() : nullptr;
}

int mdlDialog_closeCommandQueue(MSDialog* db) {
    if (!validDialog(db)) return ERROR;
    host().commands.queue.push_back({QueuedWork::CloseDialog, 0, "", db});
    return SUCCESS;
}

int mdlDialog_getDialogId(MSDialog* db) { return validDialog(db) ? db->id : 0; }

MSWindow* mdlDialog_getWindow(MSDialog* db) { return validDialog(db) ? &db->window : nullptr; }

int mdlWindow_titleSet(MSWindow* window, WCharCP title) {
    if (!window || !validDialog(window->dialog)) return ERROR;
    window->dialog->title = title ? title : L"";
    return SUCCESS;
}

void mdlDialog_adjustPopDownHeight(MSDialog* /*db*/) {}

DialogItem* mdlDialog_itemGetByTypeAndId(MSDialog* db, std::uint32_t type, int id, int startIndex) {
    if (!validDialog(db)) return nullptr;
    for (std::size_t i = std::max(0, startIndex); i < db->items.size(); ++i)
        if (db->items[i]->item.type == type && db->items[i]->item.id == id) return &db->items[i]->item;
    return nullptr;
}

DialogItem* mdlDialog_itemGetByIndex(MSDialog* db, int itemIndex) {
    return validIndex(db, itemIndex) ? &db->items[itemIndex]->item : nullptr;
}

int mdlDialog_itemSetEnabledState(MSDialog* db, int itemIndex, bool enabled, bool /*redraw*/) {
    if (!validIndex(db, itemIndex)) return ERROR;
    db->items[itemIndex]->enabled = enabled;
    return SUCCESS;
}

int mdlDialog_itemShow(MSDialog* db, int itemIndex) {
    if (!validIndex(db, itemIndex)) return ERROR;
    db->items[itemIndex]->shown = true;
    return SUCCESS;
}

int mdlDialog_itemHide(MSDialog* db, int itemIndex, bool /*redraw*/) {
    if (!validIndex(db, itemIndex)) return ERROR;
    db->items[itemIndex]->shown = false;
    return SUCCESS;
}

int mdlDialog_itemSynch(MSDialog* db, int itemIndex) {
    if (!validIndex(db, itemIndex)) return ERROR;
    loadItem(*db->items[itemIndex]);
    sendItemMessage(db, itemIndex, DITEM_MESSAGE_SYNCHRONIZE);
    return SUCCESS;
}

int mdlDialog_itemsSynch(MSDialog* db) {
    if (!validDialog(db)) return ERROR;
    for (int i = 0; validDialog(db) && i < static_cast<int>(db->items.size()); ++i) mdlDialog_itemSynch(db, i);
    return SUCCESS;
}

int mdlDialog_itemDraw(MSDialog* db, int itemIndex) {
    if (!validIndex(db, itemIndex)) return ERROR;
    if (db->shown && db->items[itemIndex]->shown) drawItem(db, itemIndex);
    return SUCCESS;
}

int mdlDialog_itemGetValue(MSValueDescr* value, WCharP text, MSDialog* db, int itemIndex, int textSize) {
    if (text && textSize > 0) text[0] = 0;
    if (!validIndex(db, itemIndex)) return ERROR;
    const ItemInstance& it = *db->items[itemIndex];
    if (value) *value = it.value;
    copyWide(text, textSize, it.text);
    return SUCCESS;
}

int mdlDialog_itemSetValue(const MSValueDescr* value, WCharCP text, MSDialog* db, int itemIndex) {
    if (!validIndex(db, itemIndex)) return ERROR;
    ItemInstance& it = *db->items[itemIndex];
    if (value) it.value = *value;
    if (text)
        it.text = text;
    else if (value && value->kind == MSValueDescr::Long)
        it.text = widen(std::to_string(value->longValue));
    return SUCCESS;
}

int mdlDialog_itemSetState(MSDialog* db, int itemIndex) {
    if (!validIndex(db, itemIndex)) return ERROR;
    ItemInstance& it = *db->items[itemIndex];
    auto& binding = itemBinding(it);
    if (binding && !storeToBinding(*binding, it.value, it.text)) return ERROR;
    // The item's hook is told as after a user's entry (61), so that an item without a binding,
    // whose hook stores the value itself, takes what it shows too.
    const bool hooked = it.rsc && it.rsc->hookId != 0;
    if (hooked) sendItemMessage(db, itemIndex, DITEM_MESSAGE_SETSTATE);
    return binding || hooked ? SUCCESS : ERROR;
}

int mdlDialog_colorPickerSetColorTable(DialogItem* item, const ColorPaletteEntry* table, int count) {
    ItemInstance* it = findItemInstance(item);
    if (!it || (!table && count > 0) || count < 0) return ERROR;
    it->paletteSize = std::min(count, 256);
    return SUCCESS;
}

int mdlWindow_lineDraw(MSWindow* window, const Point2d* points, int count, int fixedColor, int lineStyle) {
    auto* target = drawTarget(window);
    if (!target || !points || count < 0) return ERROR;
    nlohmann::json pts = nlohmann::json::array();
    for (int i = 0; i < count && i < 10000; ++i) pts.push_back({points[i].x, points[i].y});
    target->push_back({{"kind", "line"}, {"points", pts}, {"color", fixedColor}, {"style", lineStyle}});
    return SUCCESS;
}

int mdlWindow_iconDraw(MSWindow* window, const BSIRect* rect, int iconId) {
    auto* target = drawTarget(window);
    if (!target) return ERROR;
    target->push_back({{"kind", "icon"}, {"icon", iconId}, {"rect", rectJson(rect)}});
    return SUCCESS;
}

int mdlWindow_rectFillByRGB(MSWindow* window, const BSIRect* rect, const RGBColorDef* color) {
    auto* target = drawTarget(window);
    if (!target || !color) return ERROR;
    target->push_back(
        {{"kind", "rectFill"}, {"rgb", {color->red, color->green, color->blue}}, {"rect", rectJson(rect)}});
    return SUCCESS;
}

int mdlDialog_rectDrawBeveled(MSWindow* window, const BSIRect* rect, bool raised, bool thick) {
    auto* target = drawTarget(window);
    if (!target) return ERROR;
    target->push_back({{"kind", "bevel"}, {"rect", rectJson(rect)}, {"raised", raised}, {"thick", thick}});
    return SUCCESS;
}

RawItemHdr* mdlDialog_menuBarGetCmdWinP() { return &host().dialogs.menuBar; }

TextPDM* mdlDialog_menuBarFindMenu(RawItemHdr* menuBar, std::uint32_t menuType, int menuId) {
    if (!validMenuBar(menuBar)) return nullptr;
    for (auto& menu : menuBar->menus)
        if (menu->rsc->type == menuType && menu->rsc->id == menuId) return menu.get();
    return nullptr;
}

int mdlDialog_menuBarDeleteMenu(TextPDM* /*menu*/, RawItemHdr* menuBar, std::uint32_t menuType, int menuId) {
    if (menuBar != &host().dialogs.menuBar) return ERROR;
    auto& menus = menuBar->menus;
    auto found = std::find_if(menus.begin(), menus.end(),
                              [&](const auto& m) { return m->rsc->type == menuType && m->rsc->id == menuId; });
    if (found == menus.end()) return ERROR;
    recordEvent({{"event", "menu"}, {"action", "removed"}, {"id", menuId}});
    menus.erase(found);
    return SUCCESS;
}

TextPDMItem* mdlDialog_menuBarFindItem(RawItemHdr* menuBar, std::uint32_t menuType, int menuId, long searchValue) {
    TextPDM* menu = mdlDialog_menuBarFindMenu(menuBar, menuType, menuId);
    if (!menu) return nullptr;
    for (auto& item : menu->items)
        if (item->rsc->searchValue == searchValue) return item.get();
    return nullptr;
}

int mdlDialog_textPDMItemSetEnabled(TextPDMItem* item, bool enabled) {
    if (!item) return ERROR;
    item->enabled = enabled;
    return SUCCESS;
}

int mdlDialog_textPDMItemSetMark(TextPDMItem* item, int mark) {
    if (!item) return ERROR;
    item->mark = mark;
    return SUCCESS;
}

int mdlDialog_toolBoxChildSetEnabledByIndex(MSDialog* toolBox, int childIndex, bool enabled, bool /*redraw*/) {
    if (!validIndex(toolBox, childIndex)) return ERROR;
    toolBox->items[childIndex]->enabled = enabled;
    return SUCCESS;
}

// ---- List boxes ----

int mdlDialog_listBoxSetStrListP(DialogItem* item, StringList* list, int columns) {
    ItemInstance* it = findItemInstance(item);
    if (!it || it->item.type != RTYPE_ListBox || columns < 1) return ERROR;
    it->listStrings = list;
    it->listColumns = columns;
    return SUCCESS;
}

StringList* mdlDialog_listBoxGetStrListP(DialogItem* item) {
    ItemInstance* it = findItemInstance(item);
    return it ? liveStringList(it->listStrings) : nullptr;
}

// The selected row is the value the list box holds (what a user picking a row gives it).
int mdlDialog_listBoxGetNextSelection(bool* found, int* row, int* column, DialogItem* item) {
    if (found) *found = false;
    ItemInstance* it = findItemInstance(item);
    if (!it || it->item.type != RTYPE_ListBox) return ERROR;
    StringList* list = liveStringList(it->listStrings);
    const long rows = list ? static_cast<long>(list->members.size()) / std::max(1, it->listColumns) : 0;
    const long selected = it->value.longValue;
    if (selected < 0 || selected >= rows) return SUCCESS;
    if (found) *found = true;
    if (row) *row = static_cast<int>(selected);
    if (column) *column = 0;
    return SUCCESS;
}

// The host's list boxes show every row and column.
int mdlDialog_listBoxGetDisplayRange(int* topRow, int* bottomRow, int* leftColumn, int* rightColumn, DialogItem* item) {
    ItemInstance* it = findItemInstance(item);
    if (!it || it->item.type != RTYPE_ListBox) return ERROR;
    StringList* list = liveStringList(it->listStrings);
    const int columns = std::max(1, it->listColumns);
    const int rows = list ? static_cast<int>(list->members.size()) / columns : 0;
    if (topRow) *topRow = 0;
    if (bottomRow) *bottomRow = rows - 1;
    if (leftColumn) *leftColumn = 0;
    if (rightColumn) *rightColumn = columns - 1;
    return SUCCESS;
}

int mdlDialog_listBoxDrawContents(DialogItem* item, int row, int column) {
    ItemInstance* it = findItemInstance(item);
    if (!it || it->item.type != RTYPE_ListBox) return ERROR;
    StringList* list = liveStringList(it->listStrings);
    const int columns = std::max(1, it->listColumns);
    const long at = static_cast<long>(row) * columns + column;
    if (!list || row < 0 || column < 0 || column >= columns || at >= static_cast<long>(list->members.size()))
        return ERROR;
    it->drawing.push_back(
        {{"kind", "listCell"}, {"row", row}, {"column", column}, {"text", utf8(list->members[at].text)}});
    return SUCCESS;
}

// ---- Item lists ----

int mdlDialog_itemsLoad(MSDialog* db, void* itemList, int fromIndex) {
    if (!validDialog(db) || !itemList || fromIndex != -1) return hostFail(HOSTERR_BadArgument);
    const auto* file = host().app.resources;
    const rsc::ItemList* list = nullptr;
    for (const auto& candidate : file ? file->itemLists : std::span<const rsc::ItemList>{})
        if (&candidate == itemList) list = &candidate;
    if (!list) return hostFail(HOSTERR_NoResource);
    const int first = static_cast<int>(db->items.size());
    for (const auto& rscItem : list->items)
        db->items.push_back(makeItem(db, rscItem, static_cast<int>(db->items.size())));
    const int end = static_cast<int>(db->items.size());
    for (int i = first; validDialog(db) && i < end && i < static_cast<int>(db->items.size()); ++i)
        sendItemMessage(db, i, DITEM_MESSAGE_CREATE);
    for (int i = first; validDialog(db) && i < end && i < static_cast<int>(db->items.size()); ++i)
        sendItemMessage(db, i, DITEM_MESSAGE_ALLCREATED);
    if (validDialog(db) && db->shown)
        for (int i = first; i < end && i < static_cast<int>(db->items.size()); ++i)
            if (db->items[i]->shown) drawItem(db, i);
    return SUCCESS;
}

int mdlDialog_itemsFree(MSDialog* db, int firstIndex, int lastIndex) {
    if (!validDialog(db)) return ERROR;
    const int count = static_cast<int>(db->items.size());
    if (lastIndex < 0 || lastIndex >= count) lastIndex = count - 1;
    if (firstIndex < 0 || firstIndex > lastIndex) return firstIndex == count ? SUCCESS : ERROR;
    for (int i = firstIndex; i <= lastIndex && i < static_cast<int>(db->items.size()); ++i)
        sendItemMessage(db, i, DITEM_MESSAGE_DESTROY);
    auto& retired = host().dialogs.retiredItems;
    const int end = std::min(lastIndex + 1, static_cast<int>(db->items.size()));
    for (int i = firstIndex; i < end; ++i) retired.push_back(std::move(db->items[i]));
    db->items.erase(db->items.begin() + firstIndex, db->items.begin() + end);
    // Items after the freed ones move up.
    for (int i = firstIndex; i < static_cast<int>(db->items.size()); ++i) db->items[i]->item.itemIndex = i;
    if (db->focusIndex >= firstIndex) db->focusIndex = -1;
    return SUCCESS;
}

int mdlDialog_itemGetFocusIndex(MSDialog* db) { return validDialog(db) ? db->focusIndex : -1; }

// A modal dialog takes the next file answer: its first text field is given the path and its OK
// action is pressed; "file cancel" (or no answer under --answers no) closes it with Cancel.
int mdlDialog_openModal(int* lastAction, RscFileHandle /*rsc*/, int dialogId) {
    if (lastAction) *lastAction = ACTIONBUTTON_CANCEL;
    const rsc::Dialog* rscDialog = findRscDialog(dialogId);
    if (!rscDialog) return hostFail(HOSTERR_NoResource);
    MSDialog* db = createDialog(rscDialog, true);
    if (!db) return SUCCESS;
    auto& files = host().answers.files;
    std::optional<std::string> answer;
    if (!files.empty()) {
        answer = files.front();
        files.pop_front();
    } else if (!(host().answers.defaultAnswer && (*host().answers.defaultAnswer == ACTIONBUTTON_NO ||
                                                  *host().answers.defaultAnswer == ACTIONBUTTON_CANCEL))) {
        const std::string question = "no answer for modal dialog " + std::to_string(dialogId) + " \"" +
                                     utf8(db->title) + "\" (queue one with file PATH or file cancel)";
        recordEvent({{"event", "error"}, {"message", question}, {"dialog", dialogId}});
        closeDialogNow(db, ACTIONBUTTON_CANCEL, 0);
        throw SessionStop(3, question);
    }
    int action = ACTIONBUTTON_CANCEL;
    if (answer) {
        for (std::size_t i = 0; i < db->items.size(); ++i) {
            if (db->items[i]->item.type != RTYPE_Text) continue;
            MSValueDescr value;
            value.kind = MSValueDescr::String;
            userEdit(db, static_cast<int>(i), value, widen(*answer));
            break;
        }
        if (validDialog(db)) {
            const DialogMessage msg = sendDialogMessage(db, DIALOG_MESSAGE_ACTIONBUTTON, ACTIONBUTTON_OK);
            if (!msg.abortAction) action = ACTIONBUTTON_OK;
        }
    }
    if (validDialog(db)) closeDialogNow(db, action, 0);
    if (lastAction) *lastAction = action;
    return SUCCESS;
}

}  // extern "C"
