// The words for transcript events (see subhost/README.md for the events and their fields).
#include "cli/account.h"

#include <optional>

namespace pixelmend {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The field as text: strings as they are, numbers and lists as JSON; nothing when it is missing.
std::optional<std::string> text(const json& event, const char* key) {
    const auto found = event.find(key);
    if (found == event.end() || found->is_null()) return std::nullopt;
    return found->is_string() ? found->get<std::string>() : found->dump();
}

// Message texts on one line: line breaks become spaces, runs of spaces one.
std::string oneLine(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const char d = c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
        if (d == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += d;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// A path inside `base` relative to it, any other as it is.
std::string shortPath(const std::string& path, const fs::path& base) {
    if (base.empty()) return path;
    const fs::path relative = fs::path(path).lexically_relative(base);
    if (relative.empty() || relative.native().starts_with("..")) return path;
    return relative.string();
}

// How a request for the manual went, from the help event's result and viewer.
std::string helpResult(const json& e) {
    const std::string result = text(e, "result").value_or("");
    if (result == "started") return "opened with " + text(e, "viewer").value_or("?");
    if (result == "none") return "no viewer wanted (PXMEND_PDF_VIEWER none)";
    if (result == "noDisplay") return "no display, so no viewer started";
    if (result == "missing") return "the file is missing";
    if (result == "noViewer") return "no PDF viewer found";
    return "the viewer could not be started";
}

// What one event says, or nothing for events a person would not notice. `lastCommand` is the
// command last named: a tool names its command again at each step, which is not a new command.
std::optional<std::string> describe(const json& e, const fs::path& base, std::string& lastCommand) {
    const std::string name = text(e, "event").value_or("");
    const std::string action = text(e, "action").value_or("");
    const auto need = [&](const char* key) { return text(e, key).value_or("(no " + std::string(key) + ")"); };
    const auto path = [&](const char* key) { return shortPath(need(key), base); };
    if (name == "command") {
        const std::string command = need("text");
        if (command == lastCommand) return std::nullopt;
        lastCommand = command;
        return "command: " + command;
    }
    if (name == "design") {
        if (action == "opened")
            return "design " + need("name") + " opened" + (e.value("readOnly", false) ? " (read-only)" : "");
        if (action == "saved") return "design " + need("name") + " saved to " + path("path");
        if (action == "closed") return "design " + need("name") + " closed";
        return std::nullopt;
    }
    if (name == "load") return "PixelMend loaded (" + need("task") + ")";
    if (name == "unload") return "PixelMend unloaded";
    if (name == "unloadRefused") return "PixelMend refused to unload";
    if (name == "messageBox") return "question: \"" + oneLine(need("text")) + "\" -> answer: " + need("answer");
    if (name == "fileDialog") return "file dialog \"" + oneLine(need("title")) + "\" -> answer: " + path("answer");
    if (name == "colorChooser") return "colour chooser -> answer: " + need("answer");
    if (name == "fileWritten") {
        // A file written under a passing name and then renamed by the add-on (a resize in place) is
        // said to be gone, not listed as if it were there.
        std::error_code ec;
        const bool there = fs::exists(need("path"), ec);
        return "wrote " + path("path") + (there || ec ? "" : " (since renamed or removed)");
    }
    if (name == "fileRestored") return "restored " + path("path");
    if (name == "rasterAttached") return "raster " + path("path") + " attached";
    if (name == "rasterDetached") return "raster " + path("path") + " detached";
    if (name == "rasterRefused") return "raster " + path("file") + " not attached: " + need("reason");
    if (name == "undo" || name == "redo") {
        const std::string groups = need("groups");
        return name + " (" + groups + (groups == "1" ? " step)" : " steps)");
    }
    if (name == "render") return "view drawn into " + path("path");
    if (name == "keyin") {
        const auto keyin = text(e, "keyin");  // empty for a text of the key-in type
        if (keyin && !keyin->empty()) return "key-in handled by the host: " + *keyin;
        return std::nullopt;  // a status-line text of the key-in type
    }
    if (name == "keyinUnknown") return "unknown key-in: " + need("keyin");
    if (name == "commandUnknown") return "unknown command number " + need("command");
    if (name == "error") {
        const auto message = text(e, "message");  // empty for an error text of the add-on
        if (message && !message->empty())
            return "error" + (e.contains("line") ? " on line " + need("line") : std::string()) + ": " +
                   oneLine(*message);
        return "error: " + oneLine(need("text"));
    }
    if (name == "messageCenter" && e.value("priority", 0) >= 10) return "error message: " + oneLine(need("brief"));
    if (name == "toolSettings" && (action == "opened" || action == "closed")) return "tool settings " + action;
    if (name == "fence") return action == "defined" ? "fence defined" : "fence cleared";
    if (name == "help") return "manual " + path("file") + " at \"" + need("destination") + "\": " + helpResult(e);
    if (name == "settings") return "settings listed";
    if (name == "items") return "items of " + need("dialog") + " listed";
    if (name == "rasters") {
        std::string list;
        if (const auto found = e.find("rasters"); found != e.end() && found->is_array())
            for (const json& r : *found)
                if (r.is_object()) list += (list.empty() ? "" : ", ") + shortPath(text(r, "path").value_or("?"), base);
        return "raster attachments: " + (list.empty() ? std::string("none") : list);
    }
    if (name == "elementAdded") return "element " + need("id") + " added";
    if (name == "elementChanged") return "element " + need("id") + " changed";
    if (name == "elementDeleted") return "element " + need("id") + " deleted";
    return std::nullopt;
}

}  // namespace

std::vector<std::string> describeSession(std::span<const json> events, const fs::path& base) {
    std::vector<std::string> lines;
    std::string lastCommand;
    for (const json& event : events) {
        if (!event.is_object()) {
            lines.push_back("(a transcript line that is not an event)");
            continue;
        }
        if (auto line = describe(event, base, lastCommand)) {
            if (!lines.empty() && lines.back() == *line && line->starts_with("wrote "))
                continue;  // one write, twice told
            lines.push_back(std::move(*line));
        }
    }
    return lines;
}

}  // namespace pixelmend
