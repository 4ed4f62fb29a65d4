// Session scripts: one host action a line, checked as a whole before any of it
// runs, then played against the host. Every host-visible effect is a
// transcript event; a bad line stops with exit code 2, an unanswered question
// with exit code 3.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "subhost/elements.h"
#include "subhost/raster/raster.h"
#include "subhost/selection.h"
#include "subhost/shell.h"
#include "subhost/state.h"
#include "subhost/undo.h"

namespace subhost {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxScriptBytes = 1u << 20;
constexpr std::size_t kMaxLineLength = 4096;

// A script line that failed; carries the message of its error event.
struct LineError {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) { throw LineError{message}; }

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The words of a line and, for each word, the rest of the line from it.
struct Words {
    std::vector<std::string> words;
    std::vector<std::string> rests;
    std::size_t size() const { return words.size(); }
    const std::string& operator[](std::size_t i) const { return words[i]; }
    std::string rest(std::size_t i) const { return i < rests.size() ? rests[i] : std::string(); }
};

Words splitLine(const std::string& line) {
    Words out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        out.words.push_back(line.substr(start, i - start));
        out.rests.push_back(trim(line.substr(start)));
    }
    return out;
}

long wholeNumber(const std::string& text, const char* what) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno == ERANGE)
        fail(std::string(what) + " must be a whole number, not \"" + text + "\"");
    return v;
}

double realNumber(const std::string& text, const char* what) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !std::isfinite(v))
        fail(std::string(what) + " must be a number, not \"" + text + "\"");
    return v;
}

CommandNumber commandNumber(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (text.empty() || text[0] == '-' || *end != 0 || errno == ERANGE)
        fail("command number must be 0x... or decimal, not \"" + text + "\"");
    return v;
}

int answerAction(const std::string& word) {
    const std::string w = lower(word);
    if (w == "ok") return ACTIONBUTTON_OK;
    if (w == "yes") return ACTIONBUTTON_YES;
    if (w == "no") return ACTIONBUTTON_NO;
    if (w == "cancel") return ACTIONBUTTON_CANCEL;
    if (w == "wait") return shell::kAnswerWait;
    char* end = nullptr;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != 0 || v < -100000 || v > 100000)
        fail("answer must be ok, yes, no, cancel, wait or a number, not \"" + word + "\"");
    return static_cast<int>(v);
}

std::uint32_t itemType(const std::string& code) {
    const auto type = typeFromCode(code);
    if (!type) fail("item type must be a four-character code such as dTxt or pBtn, not \"" + code + "\"");
    return *type;
}

// A view number 0-7 from its word.
int viewNumber(const std::string& word) {
    const long view = wholeNumber(word, "view");
    if (view < 0 || view > 7) fail("view must be 0-7");
    return static_cast<int>(view);
}

// "X Y [Z] [view N]" from word first on.
std::pair<DPoint3d, int> pointArgs(const Words& w, std::size_t first) {
    std::vector<std::string> nums;
    int view = 0;
    std::size_t i = first;
    for (; i < w.size() && lower(w[i]) != "view"; ++i) nums.push_back(w[i]);
    if (nums.size() < 2 || nums.size() > 3) fail("a point needs X Y [Z] [view N]");
    if (i < w.size()) {
        if (i + 2 != w.size()) fail("\"view\" needs exactly one view number");
        view = viewNumber(w[i + 1]);
    }
    DPoint3d p{realNumber(nums[0], "X"), realNumber(nums[1], "Y"), nums.size() == 3 ? realNumber(nums[2], "Z") : 0.0};
    return {p, view};
}

// The view of "fence X Y X Y ... [view N]": N, or 0.
int fenceView(const Words& w) {
    if (w.size() < 3 || lower(w[w.size() - 2]) != "view") return 0;
    return viewNumber(w[w.size() - 1]);
}

// The points of "fence X Y X Y ... [view N]": at least 3, at most 5000.
std::vector<DPoint3d> fencePoints(const Words& w) {
    std::size_t end = w.size();
    if (end >= 3 && lower(w[end - 2]) == "view") end -= 2;
    const std::size_t numbers = end - 1;
    if (numbers < 6 || numbers % 2 != 0 || numbers / 2 > std::size_t(MAX_VERTICES))
        fail("usage: fence X Y X Y X Y ... [view N] (3 to 5000 points) | fence clear");
    std::vector<DPoint3d> points;
    for (std::size_t i = 1; i + 1 < end; i += 2)
        points.push_back(DPoint3d{realNumber(w[i], "X"), realNumber(w[i + 1], "Y"), 0.0});
    return points;
}

void needWords(const Words& w, std::size_t min, std::size_t max, const char* usage) {
    if (w.size() < min || w.size() > max) fail(std::string("usage: ") + usage);
}

void check(bool ok, const std::string& error) {
    if (!ok) fail(error);
}

// Runs a host call that reports failure through an error text; a failure fails the line.
void checked(const std::function<bool(std::string*)>& call) {
    std::string error;
    check(call(&error), error);
}

struct Step {
    int line;
    std::function<void()> run;
};

using Action = std::function<void()>;

// One script line being parsed: its words and what relative paths and the load line resolve against.
struct Line {
    const Words& w;
    const fs::path& folder;
    const SessionOptions& options;

    // A path of the line, absolute as given or relative to the script's folder.
    std::string resolve(const std::string& path) const {
        return fs::path(path).is_absolute() ? path : (folder / path).string();
    }
    // Whether the line is exactly the command and `key` (any case).
    bool is(const char* key) const { return w.size() == 2 && lower(w[1]) == key; }
};

Action parseDesign(const Line& l) {
    const std::string path = l.resolve(l.w.rest(1));
    return [path] { checked([&](std::string* e) { return openDesign(path, e); }); };
}

Action parseCfg(const Line& l) {
    const std::string name = l.w[1];
    std::optional<std::string> value;
    if (l.w.size() > 2) value = l.w.rest(2);
    return [name, value] { setCfgVar(name, value); };
}

Action parseVersion(const Line& l) {
    const std::string& text = l.w[1];
    const auto dot = text.find('.');
    if (dot == std::string::npos) fail("version must be R.M, e.g. 10.17");
    const long release = wholeNumber(text.substr(0, dot), "release");
    const long major = wholeNumber(text.substr(dot + 1), "major");
    if (release < 0 || release > 65535 || major < 0 || major > 65535) fail("version numbers must be 0-65535");
    return [release, major] { setVersion(static_cast<int>(release), static_cast<int>(major)); };
}

// The application's module path: --app, else PIXELMEND_APP; made absolute from where the session
// was started, before it runs in the script's folder.
std::string applicationPath(const SessionOptions& options) {
    std::string appPath = options.appPath;
    if (appPath.empty()) {
        const char* env = std::getenv("PIXELMEND_APP");
        appPath = env ? env : "";
    }
    if (appPath.find('/') == std::string::npos) return appPath;
    std::error_code error;
    const fs::path full = fs::absolute(appPath, error);
    if (error) fail("application " + appPath + ": " + error.message());
    return full.string();
}

Action parseLoad(const Line& l) {
    const std::string how = l.w.size() > 1 ? l.w[1] : "KEYIN";
    const std::string appPath = applicationPath(l.options);
    const SessionOptions options = l.options;
    return [how, options, appPath] {
        if (options.linkedMain) {
            const std::string name = options.appPath.empty() ? "linked" : options.appPath;
            checked([&](std::string* e) {
                return loadLinkedApplication(options.linkedMain, options.linkedResources, name, how, e);
            });
            return;
        }
        check(!appPath.empty(), "no application to load (give --app PATH or set PIXELMEND_APP)");
        checked([&](std::string* e) { return loadApplication(appPath, how, e); });
    };
}

Action parseUnload(const Line& l) {
    const int type = l.w.size() > 1 ? static_cast<int>(wholeNumber(l.w[1], "unload type")) : 1;
    return [type] {
        check(applicationLoaded(), "no application is loaded");
        unloadApplication(type);
    };
}

Action parseKeyin(const Line& l) {
    const std::string text = l.w.rest(1);
    return [text] { checked([&](std::string* e) { return keyin(text, e); }); };
}

Action parseCommand(const Line& l) {
    const CommandNumber number = commandNumber(l.w[1]);
    const std::string arg = l.w.rest(2);
    return [number, arg] { runCommand(number, arg); };
}

// "point|cursor X Y [Z] [view N]"; named copies, not structured bindings: clang before 16
// cannot capture those in a lambda.
Action parsePoint(const Line& l) {
    const std::pair<DPoint3d, int> args = pointArgs(l.w, 1);
    const DPoint3d p = args.first;
    const int view = args.second;
    if (lower(l.w[0]) == "point") return [p, view] { dataPoint(p, view); };
    return [p, view] { cursorMove(p, view); };
}

Action parseReset(const Line&) {
    return [] { resetButton(); };
}

Action parseAnswer(const Line& l) {
    std::vector<int> actions;
    for (std::size_t i = 1; i < l.w.size(); ++i) actions.push_back(answerAction(l.w[i]));
    return [actions] {
        for (int a : actions) queueAnswer(a);
    };
}

Action parseFile(const Line& l) {
    if (l.is("cancel")) return [] { queueFileAnswer(std::nullopt); };
    const std::string path = l.resolve(l.w.rest(1));
    return [path] { queueFileAnswer(path); };
}

Action parseOpenWith(const Line& l) {
    if (l.is("cancel")) return [] { shell::queueOpenWithAnswer(std::nullopt); };
    const std::string command = l.w.rest(1);
    if (shell::splitCommandLine(command).empty()) fail("openwith needs a command line or cancel");
    return [command] { shell::queueOpenWithAnswer(command); };
}

Action parseColor(const Line& l) {
    if (l.is("cancel")) return [] { queueColorAnswer(std::nullopt); };
    needWords(l.w, 4, 4, "color R G B | color cancel");
    std::array<std::uint8_t, 3> rgb{};
    for (int i = 0; i < 3; ++i) {
        const long v = wholeNumber(l.w[1 + i], "colour component");
        if (v < 0 || v > 255) fail("colour components must be 0-255");
        rgb[i] = static_cast<std::uint8_t>(v);
    }
    return [rgb] { queueColorAnswer(rgb); };
}

Action parseSet(const Line& l) {
    const std::string field = l.w[1];
    const std::string value = l.w.rest(2);
    return [field, value] { checked([&](std::string* e) { return setField(field, value, e); }); };
}

Action parseToolSettings(const Line& l) {
    const std::string what = lower(l.w[1]);
    if (what != "open" && what != "close") fail("usage: toolsettings open|close");
    const bool open = what == "open";
    return [open] { toolSettings(open); };
}

Action parseItem(const Line& l) {
    const char* const usage = "usage: item DIALOG TYPE ID set VALUE | item DIALOG TYPE ID press";
    if (l.w.size() < 5) fail(usage);
    const std::string dialog = l.w[1];
    const std::uint32_t type = itemType(l.w[2]);
    const int id = static_cast<int>(wholeNumber(l.w[3], "item id"));
    const std::string what = lower(l.w[4]);
    if (what == "press") {
        needWords(l.w, 5, 5, "item DIALOG TYPE ID press");
        return [dialog, type, id] { checked([&](std::string* e) { return itemPress(dialog, type, id, e); }); };
    }
    if (what != "set" || l.w.size() < 6) fail(usage);
    const std::string value = l.w.rest(5);
    return [dialog, type, id, value] { checked([&](std::string* e) { return itemSet(dialog, type, id, value, e); }); };
}

Action parseClose(const Line& l) {
    const std::string dialog = l.w[1];
    return [dialog] { checked([&](std::string* e) { return closeDialog(dialog, e); }); };
}

Action parseSave(const Line& l) {
    const std::string path = l.w.size() > 1 ? l.resolve(l.w.rest(1)) : std::string();
    return [path] { checked([&](std::string* e) { return saveDesignAs(path, e); }); };
}

Action parseFence(const Line& l) {
    if (l.is("clear")) return [] { mdlFence_clear(true); };
    const std::vector<DPoint3d> points = fencePoints(l.w);
    const int view = fenceView(l.w);
    return [points, view] { checked([&](std::string* e) { return elements::setFence(points, view, e); }); };
}

// An element id of a script line: a whole number from 1.
int elementId(const std::string& word) {
    const long id = wholeNumber(word, "element id");
    if (id < 1 || id > 1000000000) fail("element id must be 1 to 1000000000");
    return static_cast<int>(id);
}

Action parseSelect(const Line& l) {
    if (l.is("clear")) return [] { hostEntry([] { elements::clearSelection(); }); };
    std::vector<int> ids;
    for (std::size_t i = 1; i < l.w.size(); ++i) ids.push_back(elementId(l.w[i]));
    return [ids] { checked([&](std::string* e) { return elements::selectIds(ids, e); }); };
}

Action parseUndo(const Line& l) {
    const bool isUndo = lower(l.w[0]) == "undo";
    return [isUndo] {
        hostEntry([&] {
            const int n = isUndo ? undo::undoGroups(1) : undo::redoGroups(1);
            recordEvent({{"event", isUndo ? "undo" : "redo"}, {"groups", n}, {"count", 1}});
        });
    };
}

// The picture size of "size WxH": each side 1 to kMaxPictureSide pixels.
std::pair<int, int> pictureSize(const std::string& word) {
    const std::string size = lower(word);
    const std::size_t x = size.find('x');
    if (x == std::string::npos) fail("size must be WIDTHxHEIGHT in pixels, e.g. 800x600");
    const long wide = wholeNumber(size.substr(0, x), "width"), high = wholeNumber(size.substr(x + 1), "height");
    if (wide < 1 || high < 1 || wide > kMaxPictureSide || high > kMaxPictureSide)
        fail("size must be 1 to " + std::to_string(kMaxPictureSide) + " pixels a side");
    return {static_cast<int>(wide), static_cast<int>(high)};
}

constexpr const char* kRenderUsage = "render OUT.png [view N] [size WxH]";

Action parseRender(const Line& l) {
    const std::string path = l.resolve(l.w[1]);
    if (lower(fs::path(path).extension().string()) != ".png") fail("render writes a PNG picture: OUT must end in .png");
    int view = 0, width = 0, height = 0;  // 0 x 0: the view's own proportions
    for (std::size_t i = 2; i < l.w.size(); i += 2) {
        const std::string option = lower(l.w[i]);
        if (i + 1 >= l.w.size() || (option != "view" && option != "size")) fail(std::string("usage: ") + kRenderUsage);
        if (option == "view") {
            view = viewNumber(l.w[i + 1]);
            continue;
        }
        const std::pair<int, int> size = pictureSize(l.w[i + 1]);
        width = size.first, height = size.second;
    }
    return [path, view, width, height] {
        std::vector<std::string> notes;
        int drawnWidth = 0, drawnHeight = 0;
        checked([&](std::string* e) {
            return renderViewToPng(path, view, width, height, &notes, e, &drawnWidth, &drawnHeight);
        });
        nlohmann::json event = {{"event", "render"}, {"path", path}, {"width", drawnWidth}, {"height", drawnHeight}};
        if (!notes.empty()) event["notes"] = notes;
        recordEvent(event);
    };
}

// The keys of "dump KEY [DIALOG]": how many words the line has and what it records.
struct DumpKey {
    const char* key;
    std::size_t words;
    Action (*parse)(const Line&);
};

constexpr DumpKey kDumpKeys[] = {
    {"settings", 2, [](const Line&) -> Action { return [] { dumpSettings(); }; }},
    {"menus", 2, [](const Line&) -> Action { return [] { dumpMenus(); }; }},
    {"rasters", 2, [](const Line&) -> Action { return [] { recordEvent(raster::dumpRasters()); }; }},
    {"dynamics", 2, [](const Line&) -> Action { return [] { elements::dumpDynamics(); }; }},
    {"elements", 2, [](const Line&) -> Action { return [] { elements::dumpElements(); }; }},
    {"expanded", 3,
     [](const Line& l) -> Action {
         const int id = elementId(l.w[2]);
         return [id] { checked([&](std::string* e) { return elements::dumpExpanded(id, e); }); };
     }},
    {"items", 3,
     [](const Line& l) -> Action {
         const std::string dialog = l.w[2];
         return [dialog] { dumpItems(dialog); };
     }},
};

Action parseDump(const Line& l) {
    for (const DumpKey& key : kDumpKeys)
        if (l.w.size() == key.words && lower(l.w[1]) == key.key) return key.parse(l);
    fail(
        "usage: dump settings | dump items DIALOG | dump menus | dump rasters | dump dynamics | dump elements | dump "
        "expanded ID");
}

constexpr std::size_t kAny = 100000;

// A script command: its word, the words a line of it may have (command word included) with the
// usage shown otherwise, and its parser. A null usage: the parser checks the words itself.
struct CommandSpec {
    const char* verb;
    std::size_t minWords;
    std::size_t maxWords;
    const char* usage;
    Action (*parse)(const Line&);
};

constexpr CommandSpec kCommands[] = {
    {"design", 2, 1000, "design PATH", parseDesign},
    {"cfg", 2, kAny, "cfg NAME [VALUE]", parseCfg},
    {"version", 2, 2, "version R.M", parseVersion},
    {"load", 1, 2, "load [ARG]", parseLoad},
    {"unload", 1, 2, "unload [TYPE]", parseUnload},
    {"keyin", 2, kAny, "keyin TEXT", parseKeyin},
    {"command", 2, kAny, "command NUMBER [ARG]", parseCommand},
    {"point", 0, kAny, nullptr, parsePoint},
    {"cursor", 0, kAny, nullptr, parsePoint},
    {"reset", 1, 1, "reset", parseReset},
    {"answer", 2, kAny, "answer WORD...", parseAnswer},
    {"file", 2, 1000, "file PATH | file cancel", parseFile},
    {"color", 0, kAny, nullptr, parseColor},
    {"openwith", 2, kAny, "openwith COMMAND | openwith cancel", parseOpenWith},
    {"set", 3, kAny, "set FIELD VALUE", parseSet},
    {"toolsettings", 2, 2, "toolsettings open|close", parseToolSettings},
    {"item", 0, kAny, nullptr, parseItem},
    {"close", 2, 2, "close DIALOG", parseClose},
    {"save", 1, 1000, "save [PATH]", parseSave},
    {"fence", 0, kAny, nullptr, parseFence},
    {"select", 2, 1000, "select ID... | select clear", parseSelect},
    {"undo", 1, 1, "undo", parseUndo},
    {"redo", 1, 1, "redo", parseUndo},
    {"render", 2, 6, kRenderUsage, parseRender},
    {"dump", 0, kAny, nullptr, parseDump},
};

// Turns one script line into the action it stands for; throws LineError when the line is malformed.
Action parseLine(const Words& w, const fs::path& folder, const SessionOptions& options) {
    const std::string verb = lower(w[0]);
    for (const CommandSpec& command : kCommands) {
        if (verb != command.verb) continue;
        if (command.usage) needWords(w, command.minWords, command.maxWords, command.usage);
        return command.parse(Line{w, folder, options});
    }
    fail("unknown command \"" + w[0] + "\"");
}

void lineError(int line, const std::string& message) {
    recordEvent({{"event", "error"}, {"line", line}, {"message", message}});
}

// The script's text without a byte-order mark; nullopt after the error event when it is not a
// regular file of at most kMaxScriptBytes that can be read.
std::optional<std::string> scriptText(const std::string& scriptPath) {
    std::error_code ec;
    const auto status = fs::status(scriptPath, ec);
    if (ec || !fs::is_regular_file(status)) {
        lineError(
            0, "script " + scriptPath + ": " + (ec || !fs::exists(status) ? "file not found" : "not a regular file"));
        return std::nullopt;
    }
    const auto size = fs::file_size(scriptPath, ec);
    if (ec || size > kMaxScriptBytes) {
        lineError(0, "script " + scriptPath + ": " + (ec ? "cannot read its size" : "larger than 1 MiB"));
        return std::nullopt;
    }
    std::ifstream in(scriptPath, std::ios::binary);
    if (!in) {
        lineError(0, "script " + scriptPath + ": cannot be read");
        return std::nullopt;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
    // Editors on other systems start UTF-8 files with a byte-order mark: it belongs to no command.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return text;
}

// The words of one raw script line without its comment; throws LineError for an overlong line or
// one with control characters.
Words lineWords(std::string line) {
    if (line.size() > kMaxLineLength) fail("line longer than " + std::to_string(kMaxLineLength) + " characters");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (unsigned char c : line)
        if ((c < 32 && c != '\t') || c == 127)
            fail("binary data in the script (control character " + std::to_string(c) + ")");
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    return splitLine(line);
}

// Reads and checks the script; the steps, or nullopt after the error event (exit code 2).
std::optional<std::vector<Step>> readScript(const std::string& scriptPath, const SessionOptions& options) {
    const std::optional<std::string> text = scriptText(scriptPath);
    if (!text) return std::nullopt;
    std::error_code ec;
    const fs::path folder = fs::absolute(fs::path(scriptPath), ec).parent_path();
    std::vector<Step> steps;
    int number = 0;
    std::size_t pos = 0;
    while (pos < text->size()) {
        ++number;
        std::size_t end = text->find('\n', pos);
        if (end == std::string::npos) end = text->size();
        const std::string line = text->substr(pos, end - pos);
        pos = end + 1;
        try {
            const Words words = lineWords(line);
            if (words.size() != 0) steps.push_back({number, parseLine(words, folder, options)});
        } catch (const LineError& e) {
            lineError(number, e.message);
            return std::nullopt;
        }
    }
    return steps;
}

// Makes a folder the process's current folder for the life of the object and then goes back.
class CurrentFolder {
public:
    // Takes the folder; *error says why it could not be entered (then nothing changed).
    CurrentFolder(const fs::path& folder, std::string* error) {
        std::error_code ec;
        saved_ = fs::current_path(ec);
        if (!ec) fs::current_path(folder, ec);
        entered_ = !ec;
        if (ec) *error = "cannot run in the script's folder " + folder.string() + ": " + ec.message();
    }
    ~CurrentFolder() {
        std::error_code ignored;  // the folder the session started in is gone: nowhere to go back to
        if (entered_) fs::current_path(saved_, ignored);
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    bool entered() const { return entered_; }

private:
    fs::path saved_;
    bool entered_ = false;
};

// What the host does on exit: close the design, unload a still-loaded application (type 0, not refusable).
void shutDown() {
    closeDesign();
    if (applicationLoaded()) unloadApplication(0);
}

}  // namespace

int runSession(const std::string& scriptPath, const SessionOptions& options, std::ostream& out, std::ostream& err) {
    auto& output = host().output;
    setTranscriptStream(&out);
    setDefaultAnswer(options.defaultAnswer);
    int code = 0;
    const auto steps = readScript(scriptPath, options);
    if (!steps) code = 2;
    // The session runs in its script's folder, as a host started there would: a relative
    // path that reaches the host or the application in any other way (a cfg value such as
    // a settings file, a path an application builds) is relative to the script too.
    std::string folderError;
    std::optional<CurrentFolder> inScriptFolder;
    if (code == 0) {
        std::error_code ec;
        inScriptFolder.emplace(fs::absolute(fs::path(scriptPath), ec).parent_path(), &folderError);
        if (!inScriptFolder->entered()) {
            recordEvent({{"event", "error"}, {"line", 0}, {"message", folderError}});
            code = 2;
        }
    }
    for (std::size_t i = 0; code == 0 && steps && i < steps->size(); ++i) {
        output.scriptLine = (*steps)[i].line;
        try {
            (*steps)[i].run();
        } catch (const LineError& e) {
            recordEvent({{"event", "error"}, {"line", output.scriptLine}, {"message", e.message}});
            code = 2;
        } catch (const SessionStop& stop) {
            err << "pixelmend: stopped at line " << output.scriptLine << ": " << stop.question() << "\n";
            code = stop.exitCode();
        } catch (const std::exception& e) {
            recordEvent(
                {{"event", "error"}, {"line", output.scriptLine}, {"message", std::string("failed: ") + e.what()}});
            code = 2;
        }
    }
    if (code == 0) {
        output.scriptLine = 0;
        try {
            shutDown();
        } catch (const SessionStop& stop) {
            err << "pixelmend: stopped at exit: " << stop.question() << "\n";
            code = stop.exitCode();
        }
    }
    const auto& answers = host().answers;
    if (code == 0 && (!answers.answers.empty() || !answers.files.empty() || !answers.colors.empty()))
        err << "pixelmend: note: " << answers.answers.size() + answers.files.size() + answers.colors.size()
            << " queued answer(s) were not used\n";
    output.scriptLine = 0;
    setTranscriptStream(nullptr);
    return code;
}

int runSession(const std::string& scriptPath, std::optional<int> defaultAnswer, std::ostream& out, std::ostream& err) {
    SessionOptions options;
    options.defaultAnswer = defaultAnswer;
    return runSession(scriptPath, options, out, err);
}

}  // namespace subhost
