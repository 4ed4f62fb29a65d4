// Inner state of the substitute host: one struct per host module, all reachable
// through the one HostState object. Only the host's own sources include this.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/mdldialog.h"
#include "host/mdlresource.h"
#include "host/mdlsystem.h"
#include "host/mdltypes.h"
#include "subhost/host.h"

// ---- Host objects handed out to applications as opaque handles ----

struct RscFileHandleRec {
    const rsc::File* file = nullptr;
};

struct SymbolSet {
    int visibility = 0;
};

struct DgnModelRef {
    bool readOnly = false;
};

struct MSWindow {
    MSDialog* dialog = nullptr;
};

// A drawing call recorded for an item (or the dialog itself).
using DrawRecord = nlohmann::json;

// Where a dialog item stores its value: one element of a field of the published record.
struct ItemBinding {
    const rsc::Field* field = nullptr;
    int index = 0;
};

struct ItemInstance {
    DialogItem item{};  // what hooks see; its address stays fixed while the dialog lives
    const rsc::Item* rsc = nullptr;
    bool enabled = true;
    bool shown = true;
    MSValueDescr value{};  // value shown by the item
    std::wstring text;     // text shown by the item
    std::optional<ItemBinding> binding;
    std::vector<DrawRecord> drawing;     // drawing calls of its last draw
    int paletteSize = 0;                 // colour pickers: entries of the colour table given
    std::shared_ptr<RawItemHdr> raw;     // what item.rawItemP points at (the item's raw header)
    std::optional<double> scaleMaximum;  // scales: upper limit and label set by the application
    std::wstring scaleLabel;
    StringList* listStrings = nullptr;  // list boxes: the application's string list shown, and its columns
    int listColumns = 0;
};

struct MSDialog {
    int id = 0;
    bool toolSettings = false;         // the host's tool settings window
    bool shown = false;                // false: created, not displayed
    const rsc::Dialog* rsc = nullptr;  // null for an empty tool settings window
    std::wstring title;
    MSWindow window;
    std::vector<std::unique_ptr<ItemInstance>> items;
    std::vector<DrawRecord> drawing;  // drawing outside any item draw
    int drawingItem = -1;             // item whose draw message is being handled
    int focusIndex = -1;              // item with the keyboard focus (the last one given input)
};

struct TextPDMItem {
    const rsc::MenuItem* rsc = nullptr;
    bool enabled = true;
    int mark = 0;
};

struct TextPDM {
    const rsc::Menu* rsc = nullptr;
    std::vector<std::unique_ptr<TextPDMItem>> items;
};

struct RawItemHdr {
    std::vector<std::unique_ptr<TextPDM>> menus;  // the command window's menu bar
};

struct StringList {
    int infoFields = 0;
    struct Member {
        std::wstring text;
        std::vector<InfoField> info;
    };
    std::vector<Member> members;
};

struct CompletionBar {
    std::wstring title;
};

namespace subhost {

// Transcript of host events and where they are also written.
struct OutputState {
    std::vector<nlohmann::json> events;
    std::ostream* stream = nullptr;
    int scriptLine = 0;  // line of the session script being run, 0 outside a session
};

struct ConfigState {
    std::map<std::string, std::string> vars;
    int release = 10;
    int major = 17;
};

// Answers for the coming questions.
struct AnswerState {
    std::deque<int> answers;
    std::optional<int> defaultAnswer;
    // The last question the default answered, and how often in a row it came back with the same
    // answer while nothing but message boxes happened (a loop that would never end).
    std::string lastDefaulted;
    std::size_t eventsAfterLastDefaulted = 0;
    int defaultedRepeats = 0;
    std::deque<std::optional<std::string>> files;
    std::deque<std::optional<std::array<std::uint8_t, 3>>> colors;
};

struct DesignState {
    bool open = false;
    std::string name;
    std::string path;         // the design description file
    nlohmann::json rasters;   // raster attachments as the description lists them
    nlohmann::json document;  // the whole description, written back by a save
    DgnModelRef model;
    nlohmann::json views = nlohmann::json::array();
    std::array<RGBColorDef, 256> colorTable{};
};

// The published record that dialog items bind to.
struct RecordBinding {
    std::string typeName;
    std::string varName;
    const rsc::RecordType* type = nullptr;
    void* address = nullptr;
};

struct AppState {
    bool loaded = false;
    std::unique_ptr<void, int (*)(void*)> module{nullptr, nullptr};  // dlopen handle, closed on reset
    int (*mdlMain)(int, WCharCP*) = nullptr;
    const rsc::File* resources = nullptr;
    RscFileHandleRec rscHandle;
    std::string modulePath;
    std::wstring taskId;
    bool commandTableLoaded = false;
    std::map<CommandNumber, void (*)(WCharCP)> commands;
    std::map<CommandNumber, int> toolSettingsDialogs;  // command number -> dialog of its tool settings
    std::map<long, DialogHookInfo> hooks;
    std::optional<RecordBinding> record;
    std::vector<std::unique_ptr<SymbolSet>> symbolSets;
    SystemCallback::UnloadProgramFunc unloadFunc = nullptr;
    SystemCallback::NewDesignFileFunc newDesignFunc = nullptr;
};

// A unit of work waiting for the host loop: a command number or a key-in.
struct QueuedWork {
    enum Kind { Command, Keyin, CloseDialog } kind = Command;
    CommandNumber number = 0;
    std::string text;            // argument or key-in
    MSDialog* dialog = nullptr;  // CloseDialog
};

struct CommandState {
    std::deque<QueuedWork> queue;
    int depth = 0;  // nesting of host entries; the queue runs when it returns to 0
};

struct ToolState {
    bool active = false;
    StateFunc_DataPoint dataPoint = nullptr;
    StateFunc_Reset reset = nullptr;
    StateFunc_Cleanup cleanup = nullptr;
    StateFunc_ComplexDynamics dynamics = nullptr;
    int commandMsgId = 0;
    int promptMsgId = 0;
    std::optional<DPoint3d> lastCursor;
    int lastView = 0;
};

struct DialogState {
    std::vector<std::unique_ptr<MSDialog>> dialogs;
    std::vector<std::unique_ptr<MSDialog>> retired;           // closed during an entry, freed when it returns
    std::vector<std::unique_ptr<ItemInstance>> retiredItems;  // replaced tool settings items
    bool toolSettingsOpen = false;
    int toolSettingsContent = 0;  // dialog shown in the tool settings window
    std::unique_ptr<MSDialog> toolSettings;
    RawItemHdr menuBar;
};

struct MiscState {
    std::map<StringList*, std::unique_ptr<StringList>> stringLists;
    std::unique_ptr<CompletionBar> completionBar;
    int undoGroupDepth = 0;
    int undoGroups = 0;
    bool rasterInitialized = false;
    int lastError = 0;
    int loadedResources = 0;
};

struct HostState {
    OutputState output;
    ConfigState config;
    AnswerState answers;
    DesignState design;
    AppState app;
    CommandState commands;
    ToolState tool;
    DialogState dialogs;
    MiscState misc;
};

// The host's one state object.
HostState& host();

namespace hosterrors {
// The host's error numbers (what mdlErrno_get answers after a failed call).
enum HostErrno : int {
    HOSTERR_None = 0,
    HOSTERR_RasterFileClosed = 1,  // the attachment's file is not open
    HOSTERR_RasterDecode = 2,      // the raster file could not be decoded
    HOSTERR_BlockSize = 3,         // a negative block size
    HOSTERR_ColorMode = 4,         // the buffer's colour mode does not fit the file
    HOSTERR_BufferLength = 5,      // the buffer is shorter than the block
    HOSTERR_OutOfMemory = 6,       // an image could not be allocated
    HOSTERR_BadArgument = 10,      // an unknown handle or a missing argument
    HOSTERR_FileOpen = 11,         // a raster file could not be opened or written
    HOSTERR_NoClipMask = 12,       // no clip mask of that index
    HOSTERR_NoClipBoundary = 13,   // the attachment has no clip boundary
    HOSTERR_ReadOnly = 20,         // the attachment or its file is read-only
    HOSTERR_ColorConversion = 21,  // no conversion to the colour mode asked for
    HOSTERR_FileWrite = 22,        // a raster file could not be written
    HOSTERR_FileNotFound = 30,     // a file search found nothing
    HOSTERR_FileCopy = 31,         // a file could not be copied
    HOSTERR_NoResource = 40,       // a resource (dialog, resource file) is missing
};
}  // namespace hosterrors
using namespace hosterrors;

// Records hostErrno as the host's last error number and gives ERROR, the failed call's status.
inline int hostFail(HostErrno hostErrno) {
    host().misc.lastError = hostErrno;
    return ERROR;
}

// ---- Shared helpers of the host modules ----

// Wide text of a narrow (UTF-8) text; null gives an empty text; bytes that are not UTF-8 are kept
// as U+DC80 + byte (host/utf8text.h).
std::wstring widen(const char* text);
std::wstring widen(const std::string& text);
// Narrow (UTF-8) text of a wide text, for paths and the application: kept bytes come back as
// themselves; characters without a UTF-8 form become U+FFFD.
std::string narrow(WCharCP text);
std::string narrow(const std::wstring& text);
// Valid UTF-8 form of a wide text, for the transcript (kept bytes show as U+FFFD).
std::string utf8(const std::wstring& text);
std::string utf8(WCharCP text);
// Valid UTF-8 form of a narrow text, for the transcript.
std::string utf8Narrow(const char* text);
// Copies text into buffer of size characters, always terminated (nothing when size < 1).
void copyWide(WCharP buffer, int size, const std::wstring& text);

// Runs work as one host entry; when the outermost entry returns, the queued work runs.
void hostEntry(const std::function<void()>& work);
// Runs every queued command, key-in and dialog close.
void drainQueue();
// Runs a command number with its argument now (registered function, tool settings switch).
void executeCommand(CommandNumber number, const std::string& argument);
// Parses and runs a key-in now.
void executeKeyin(const std::string& text);

// The four-character code of a resource or item type ("dTxt").
std::string typeCode(std::uint32_t type);
// The type of a four-character code; nullopt when text is not four characters.
std::optional<std::uint32_t> typeFromCode(const std::string& text);

// Text of a message of the task's message list; nullopt when missing.
std::optional<std::string> messageText(int listId, int messageId);

// ---- Dialogs (dialogs.cpp) ----

// The task's dialog resource with id; null when the task has none.
const rsc::Dialog* findRscDialog(int id);
// Creates a dialog from its resource, sending the create messages, shown or not; null when a hook closed it.
MSDialog* createDialog(const rsc::Dialog* rsc, bool show);
// Closes db now: destroy messages with the closing action and reason; nothing for a closed dialog.
void closeDialogNow(MSDialog* db, int action, int closeReason);
// The newest dialog with id (a shown one before a hidden one); null when none (or none shown).
MSDialog* existingDialog(int id, bool shownOnly);
// Closes every dialog of the application and empties the tool settings window.
void closeAllDialogs();
// Shows dialogId in the tool settings window (now when it is open, else when it opens).
void switchToolSettings(int dialogId);
// Installs the task's pulldown menus in the command window's menu bar.
void installMenus();
// Takes every menu out of the menu bar.
void removeAllMenus();

// ---- The published record (record.cpp) ----

// The field element an access string ("s__globals.LineStyle[3]") names; nullopt when none.
std::optional<ItemBinding> bindAccess(const char* access);
// The element as JSON (number, text, or [r,g,b]); null when outside the record.
nlohmann::json fieldJson(const ItemBinding& binding);
// Value and text of the element, as an item bound to it shows them.
void loadFromBinding(const ItemBinding& binding, MSValueDescr& value, std::wstring& text);
// Stores an item's value (or its text, parsed for the field's kind); false when it does not fit.
bool storeToBinding(const ItemBinding& binding, const MSValueDescr& value, const std::wstring& text);
// The element a session names ("ScaleX", "LineStyle3", "LineStyle[3]"); nullopt with *error.
std::optional<ItemBinding> namedField(const std::string& name, std::string* error);
// Stores a typed value into the element, checked against its kind; false with *error.
bool storeTyped(const ItemBinding& binding, const std::string& value, std::string* error);

// ---- Tool states (states.cpp) ----

// Ends the current tool state, calling its clean-up function.
void endToolState();

// ---- Design (design.cpp) ----

// Fills table with the host's default colour table.
void resetColorTable(std::array<RGBColorDef, 256>& table);

}  // namespace subhost
