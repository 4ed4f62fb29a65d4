// Applications in the substitute host: loading and unloading, the task's
// resources, the command table with key-in parsing, registered command numbers
// and the command queue, published hooks and records, system callbacks.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "subhost/elements.h"
#include "subhost/raster/raster.h"
#include "subhost/shell.h"
#include "subhost/state.h"
#include "subhost/undo.h"

namespace subhost {

constexpr int kMaxCommandNumbers = 100000;  // a table without its terminator must not run away

namespace {
constexpr int kMaxKeyinWords = 8;  // one byte of the command number per word

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string hexNumber(CommandNumber number) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%016llX", static_cast<unsigned long long>(number));
    return buffer;
}

struct Word {
    std::string text;
    std::size_t start;  // offset in the key-in line
};

std::vector<Word> splitWords(const std::string& line) {
    std::vector<Word> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        words.push_back({line.substr(start, i - start), start});
    }
    return words;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The entry of table that word names: an exact match, else the only entry it is a prefix of.
const rsc::CommandEntry* matchWord(std::span<const rsc::CommandEntry> table, const std::string& word) {
    const std::string w = lower(word);
    const rsc::CommandEntry* prefixMatch = nullptr;
    int prefixCount = 0;
    for (const auto& entry : table) {
        if (!entry.word || entry.index < 1 || entry.index > 255) continue;
        const std::string candidate = lower(entry.word);
        if (candidate == w) return &entry;
        if (candidate.compare(0, w.size(), w) == 0) {
            prefixMatch = &entry;
            ++prefixCount;
        }
    }
    return prefixCount == 1 ? prefixMatch : nullptr;
}

void collectToolSettings(std::span<const rsc::CommandEntry> table, CommandNumber prefix, int level,
                         std::map<CommandNumber, int>& out) {
    if (level >= kMaxKeyinWords) return;
    for (const auto& entry : table) {
        if (entry.index < 1 || entry.index > 255) continue;
        const CommandNumber number = prefix | (static_cast<CommandNumber>(entry.index) << (56 - 8 * level));
        if (entry.toolSettingsDialog != 0) out[number] = entry.toolSettingsDialog;
        collectToolSettings(entry.sub, number, level + 1, out);
    }
}

bool startApplication(int (*mdlMain)(int, WCharCP*), const rsc::File* file, const std::string& modulePath,
                      const std::string& how, std::string* error) {
    auto& app = host().app;
    if (!file || !file->taskId || !*file->taskId) {
        if (error) *error = modulePath + ": the application's resources have no task id";
        return false;
    }
    app.loaded = true;
    app.mdlMain = mdlMain;
    app.resources = file;
    app.rscHandle.file = file;
    app.modulePath = modulePath;
    app.taskId = widen(file->taskId);
    collectToolSettings(file->commandTable, 0, 0, app.toolSettingsDialogs);
    recordEvent({{"event", "load"}, {"module", modulePath}, {"how", how}, {"task", utf8(app.taskId)}});
    hostEntry([&] {
        installMenus();
        const std::wstring arg0 = widen(modulePath);
        const std::wstring arg1 = widen(how);
        WCharCP argv[3] = {arg0.c_str(), arg1.c_str(), nullptr};
        mdlMain(2, argv);
    });
    return true;
}

// Unloads the application now; 1 when its unload function refused.
int unloadNow(int unloadType) {
    auto& app = host().app;
    if (!app.loaded) return 1;
    if (app.unloadFunc) {
        const int answer = app.unloadFunc(unloadType);
        if (answer != 0 && unloadType > 0) {
            recordEvent({{"event", "unloadRefused"}, {"task", utf8(app.taskId)}, {"type", unloadType}});
            return 1;
        }
    }
    endToolState();
    closeAllDialogs();
    removeAllMenus();
    host().commands.queue.clear();
    recordEvent({{"event", "unload"}, {"task", utf8(app.taskId)}, {"type", unloadType}});
    // Forget everything of the application, then close its module last.
    auto module = std::move(app.module);
    app = AppState{};
    module.reset();
    return 0;
}

}  // namespace

std::optional<std::string> messageText(int listId, int messageId) {
    const auto* file = host().app.resources;
    if (!file) return std::nullopt;
    for (const auto& list : file->messageLists) {
        if (list.id != listId) continue;
        for (const auto& msg : list.messages)
            if (msg.id == messageId) return std::string(msg.text ? msg.text : "");
    }
    return std::nullopt;
}

void executeCommand(CommandNumber number, const std::string& argument) {
    auto& app = host().app;
    if (number == CMD_MDL_UNLOAD) {
        if (app.loaded && lower(trim(argument)) == lower(narrow(app.taskId)))
            unloadNow(1);
        else
            recordEvent({{"event", "error"}, {"message", "no loaded application named \"" + trim(argument) + "\""}});
        return;
    }
    if (!app.loaded) return;
    auto ts = app.toolSettingsDialogs.find(number);
    if (ts != app.toolSettingsDialogs.end()) switchToolSettings(ts->second);
    auto fn = app.commands.find(number);
    if (fn == app.commands.end()) {
        recordEvent({{"event", "commandUnknown"}, {"command", hexNumber(number)}, {"argument", argument}});
        return;
    }
    const std::wstring arg = widen(argument);
    fn->second(arg.c_str());
}

void executeKeyin(const std::string& text) {
    const std::string line = trim(text);
    if (line.empty()) return;
    const auto words = splitWords(line);
    const std::string first = lower(words[0].text);
    // The host's own key-ins.
    if (first == "dialog" || first == "mdl") {
        if (first == "mdl" && words.size() >= 3 && lower(words[1].text) == "unload") {
            executeCommand(CMD_MDL_UNLOAD, words[2].text);
            return;
        }
        recordEvent({{"event", "keyin"}, {"keyin", line}});
        return;
    }
    auto& app = host().app;
    if (!app.loaded || !app.commandTableLoaded) {
        recordEvent({{"event", "keyinUnknown"}, {"keyin", line}});
        return;
    }
    std::span<const rsc::CommandEntry> table = app.resources->commandTable;
    CommandNumber number = 0;
    std::string argument;
    std::size_t w = 0;
    for (; w < words.size() && w < static_cast<std::size_t>(kMaxKeyinWords); ++w) {
        const rsc::CommandEntry* entry = matchWord(table, words[w].text);
        if (!entry) break;
        number |= static_cast<CommandNumber>(entry->index) << (56 - 8 * w);
        table = entry->sub;
        if (table.empty()) {
            ++w;
            break;
        }
    }
    if (w == 0) {
        recordEvent({{"event", "keyinUnknown"}, {"keyin", line}});
        return;
    }
    if (w < words.size()) argument = trim(line.substr(words[w].start));
    executeCommand(number, argument);
}

// ---- Test-facing API ----

void hostReset() {
    auto& state = host();
    raster::closeAll();
    undo::clear();
    elements::clear();
    shell::clearOpenWithAnswers();
    // Everything that points into the application's resources goes before its module closes.
    state.misc = MiscState{};
    state.tool = ToolState{};
    state.commands = CommandState{};
    state.dialogs = DialogState{};
    auto module = std::move(state.app.module);
    state.app = AppState{};
    module.reset();
    state.design = DesignState{};
    resetColorTable(state.design.colorTable);
    state.answers = AnswerState{};
    state.config = ConfigState{};
    state.output = OutputState{};
}

bool applicationLoaded() { return host().app.loaded; }

bool loadApplication(const std::string& modulePath, const std::string& how, std::string* error) {
    if (host().app.loaded) {
        if (error) *error = "application " + narrow(host().app.taskId) + " is already loaded";
        return false;
    }
    std::unique_ptr<void, int (*)(void*)> module(dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose);
    if (!module) {
        const char* why = dlerror();
        if (error) *error = "cannot load " + modulePath + ": " + (why ? why : "unknown reason");
        return false;
    }
    auto resources = reinterpret_cast<const rsc::File* (*)()>(dlsym(module.get(), "MdlResources"));
    auto mdlMain = reinterpret_cast<int (*)(int, WCharCP*)>(dlsym(module.get(), "MdlMain"));
    if (!resources || !mdlMain) {
        if (error) *error = modulePath + ": no " + std::string(resources ? "MdlMain" : "MdlResources") + " entry";
        return false;
    }
    host().app.module = std::move(module);
    if (!startApplication(mdlMain, resources(), modulePath, how, error)) {
        host().app = AppState{};
        return false;
    }
    return true;
}

bool loadLinkedApplication(int (*mdlMain)(int, WCharCP*), const rsc::File* (*resources)(),
                           const std::string& modulePath, const std::string& how, std::string* error) {
    if (host().app.loaded) {
        if (error) *error = "application " + narrow(host().app.taskId) + " is already loaded";
        return false;
    }
    if (!mdlMain || !resources) {
        if (error) *error = modulePath + ": no MdlMain or MdlResources";
        return false;
    }
    if (!startApplication(mdlMain, resources(), modulePath, how, error)) {
        host().app = AppState{};
        return false;
    }
    return true;
}

int unloadApplication(int unloadType) {
    if (!host().app.loaded) return 1;
    int result = 1;
    hostEntry([&] { result = unloadNow(unloadType); });
    return result;
}

bool keyin(const std::string& text, std::string* error) {
    if (trim(text).empty()) {
        if (error) *error = "empty key-in";
        return false;
    }
    hostEntry([&] { executeKeyin(text); });
    return true;
}

void runCommand(CommandNumber number, const std::string& argument) {
    hostEntry([&] { executeCommand(number, argument); });
}

}  // namespace subhost

// ---- Host calls ----

using subhost::host;
using subhost::kMaxCommandNumbers;
using namespace subhost::hosterrors;
using subhost::hostFail;

namespace SystemCallback {
void SetUnloadProgramFunction(UnloadProgramFunc func) { host().app.unloadFunc = func; }
void SetNewDesignFileFunction(NewDesignFileFunc func) { host().app.newDesignFunc = func; }
}  // namespace SystemCallback

extern "C" {

RscFileHandle mdlResource_openFile(RscFileHandle* handle, WCharCP fileName, int /*accessMode*/) {
    auto& app = host().app;
    RscFileHandle result = nullptr;
    if ((!fileName || !*fileName) && app.loaded) result = &app.rscHandle;
    if (!result) hostFail(HOSTERR_NoResource);
    if (handle) *handle = result;
    return result;
}

int mdlParse_loadCommandTable(RscFileHandle /*rsc*/) {
    auto& app = host().app;
    if (!app.loaded) return ERROR;
    app.commandTableLoaded = true;
    return SUCCESS;
}

int mdlSystem_registerCommandNumbers(const MdlCommandNumber* table) {
    auto& app = host().app;
    if (!app.loaded || !table) return ERROR;
    for (int i = 0; i < kMaxCommandNumbers && table[i].cmdFunc; ++i)
        app.commands[table[i].cmdNumber] = table[i].cmdFunc;
    return SUCCESS;
}

void* mdlResource_load(RscFileHandle /*rsc*/, std::uint32_t type, int id) {
    const auto* file = host().app.resources;
    if (!file) return nullptr;
    if (type == RTYPE_DialogItemList) {
        for (const auto& list : file->itemLists)
            if (list.id == id) {
                ++host().misc.loadedResources;
                return const_cast<rsc::ItemList*>(&list);
            }
        return nullptr;
    }
    if (type != RTYPE_Icon) return nullptr;
    for (const auto& icon : file->icons)
        if (icon.id == id) {
            ++host().misc.loadedResources;
            return const_cast<rsc::Icon*>(&icon);
        }
    return nullptr;
}

void mdlResource_free(void* resource) {
    if (resource && host().misc.loadedResources > 0) --host().misc.loadedResources;
}

WCharCP mdlSystem_getCurrTaskID() { return host().app.taskId.c_str(); }

void mdlDialog_cmdNumberQueue(bool atFront, CommandNumber cmdNumber, WCharCP argument, bool /*fromKeyin*/) {
    subhost::QueuedWork work{subhost::QueuedWork::Command, cmdNumber, subhost::narrow(argument), nullptr};
    auto& queue = host().commands.queue;
    if (atFront)
        queue.push_front(std::move(work));
    else
        queue.push_back(std::move(work));
}

void mdlInput_sendKeyin(WCharCP keyin, bool /*literal*/, int /*where*/, WCharCP /*taskId*/) {
    host().commands.queue.push_back({subhost::QueuedWork::Keyin, 0, subhost::narrow(keyin), nullptr});
}

void mdlInput_sendCommand(CommandNumber cmdNumber, WCharCP argument, int /*where*/, WCharCP /*taskId*/,
                          bool /*fromKeyin*/) {
    host().commands.queue.push_back({subhost::QueuedWork::Command, cmdNumber, subhost::narrow(argument), nullptr});
}

int mdlDialog_hookPublish(int count, const DialogHookInfo* hooks) {
    auto& app = host().app;
    if (!app.loaded || count < 0 || (count > 0 && !hooks)) return ERROR;
    for (int i = 0; i < count; ++i) app.hooks[hooks[i].hookId] = hooks[i];
    return SUCCESS;
}

SymbolSet* mdlCExpression_initializeSet(int visibility, int, int) {
    auto& sets = host().app.symbolSets;
    sets.push_back(std::make_unique<SymbolSet>());
    sets.back()->visibility = visibility;
    return sets.back().get();
}

int mdlDialog_publishComplexVariable(SymbolSet* /*set*/, const char* typeName, const char* varName, void* address) {
    auto& app = host().app;
    if (!app.loaded || !typeName || !varName || !address) return ERROR;
    for (const auto& type : app.resources->types) {
        if (type.name && std::string(type.name) == typeName) {
            app.record = subhost::RecordBinding{typeName, varName, &type, address};
            return SUCCESS;
        }
    }
    return ERROR;
}

}  // extern "C"
