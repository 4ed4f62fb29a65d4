// Core of the substitute host: its one state object, the transcript, text
// conversion, configuration variables, version numbers, the answer queues and
// the host loop that runs queued work after every entry.
#include <cwchar>
#include <iostream>

#include "host/utf8text.h"
#include "subhost/events.h"
#include "subhost/state.h"

namespace subhost {

HostState& host() {
    static HostState state;
    return state;
}

// ---- Texts ----

// Narrow texts are UTF-8 (host/utf8text.h): the same conversion as the add-on's,
// so that a path handed over in either direction comes back byte for byte.
std::wstring widen(const char* text) { return text ? w_utf8Widen(text) : std::wstring(); }

std::wstring widen(const std::string& text) { return widen(text.c_str()); }

std::string narrow(WCharCP text) { return text ? s_utf8Narrow(text) : std::string(); }

std::string narrow(const std::wstring& text) { return narrow(text.c_str()); }

std::string utf8(const std::wstring& text) { return s_utf8Display(text); }

std::string utf8(WCharCP text) { return text ? s_utf8Display(text) : std::string(); }

std::string utf8Narrow(const char* text) { return text ? s_utf8Display(w_utf8Widen(text)) : std::string(); }

void copyWide(WCharP buffer, int size, const std::wstring& text) {
    if (!buffer || size < 1) return;
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

std::string typeCode(std::uint32_t type) {
    std::string code;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((type >> shift) & 0xFF);
        code.push_back(c >= 32 && c < 127 ? c : '?');
    }
    return code;
}

std::optional<std::uint32_t> typeFromCode(const std::string& text) {
    if (text.size() != 4) return std::nullopt;
    std::uint32_t type = 0;
    for (char c : text) type = (type << 8) | static_cast<unsigned char>(c);
    return type;
}

// ---- Transcript ----

namespace {
// One JSON line with the event name first and the other fields in name order.
std::string eventLine(const nlohmann::json& event) {
    constexpr auto replace = nlohmann::json::error_handler_t::replace;
    if (!event.is_object() || !event.contains("event")) return event.dump(-1, ' ', false, replace);
    std::string line = "{\"event\":" + event["event"].dump(-1, ' ', false, replace);
    for (const auto& [key, value] : event.items()) {
        if (key == "event") continue;
        line += "," + nlohmann::json(key).dump(-1, ' ', false, replace) + ":" + value.dump(-1, ' ', false, replace);
    }
    return line + "}";
}
}  // namespace

void recordEvent(nlohmann::json event) {
    event = shapedEvent(std::move(event));  // every event of a type with the same fields
    auto& out = host().output;
    if (out.stream) {
        *out.stream << eventLine(event) << "\n";
        out.stream->flush();
    }
    out.events.push_back(std::move(event));
}

const std::vector<nlohmann::json>& transcript() { return host().output.events; }

void clearTranscript() { host().output.events.clear(); }

void setTranscriptStream(std::ostream* out) { host().output.stream = out; }

// ---- Configuration and version ----

void setCfgVar(const std::string& name, std::optional<std::string> value) {
    auto& vars = host().config.vars;
    if (value)
        vars[name] = *value;
    else
        vars.erase(name);
}

void setVersion(int release, int major) {
    host().config.release = release;
    host().config.major = major;
}

// ---- Answers ----

void queueAnswer(int action) { host().answers.answers.push_back(action); }
void setDefaultAnswer(std::optional<int> action) { host().answers.defaultAnswer = action; }
void queueFileAnswer(std::optional<std::string> path) { host().answers.files.push_back(std::move(path)); }
void queueColorAnswer(std::optional<std::array<std::uint8_t, 3>> rgb) { host().answers.colors.push_back(rgb); }

// ---- Host loop ----

namespace {
// Upper bound of queued work run after one entry, so that an application that
// keeps queueing itself cannot hang the host.
constexpr int kMaxQueuedWork = 10000;

// Frees dialogs and items that were closed or replaced during the entry.
void freeRetired() {
    host().dialogs.retired.clear();
    host().dialogs.retiredItems.clear();
}

void runQueued(const QueuedWork& work) {
    switch (work.kind) {
    case QueuedWork::Command:
        executeCommand(work.number, work.text);
        break;
    case QueuedWork::Keyin:
        executeKeyin(work.text);
        break;
    case QueuedWork::CloseDialog: {
        auto& dialogs = host().dialogs.dialogs;
        for (auto& d : dialogs)
            if (d.get() == work.dialog) {
                closeDialogNow(work.dialog, 0, 0);
                break;
            }
        break;
    }
    }
}
}  // namespace

void drainQueue() {
    auto& cmds = host().commands;
    int run = 0;
    while (!cmds.queue.empty()) {
        if (++run > kMaxQueuedWork) {
            cmds.queue.clear();
            recordEvent({{"event", "error"}, {"message", "command queue did not empty; remaining commands dropped"}});
            break;
        }
        QueuedWork work = std::move(cmds.queue.front());
        cmds.queue.pop_front();
        ++cmds.depth;
        try {
            runQueued(work);
        } catch (...) {
            --cmds.depth;
            throw;
        }
        --cmds.depth;
    }
}

void hostEntry(const std::function<void()>& work) {
    auto& cmds = host().commands;
    ++cmds.depth;
    try {
        work();
    } catch (...) {
        --cmds.depth;
        if (cmds.depth == 0) freeRetired();
        throw;
    }
    --cmds.depth;
    if (cmds.depth == 0) {
        drainQueue();
        freeRetired();
    }
}

}  // namespace subhost

// ---- Host calls: configuration, version ----

extern "C" {

int mdlSystem_getCfgVar(WCharP value, WCharCP name, int size) {
    using namespace subhost;
    if (value && size > 0) value[0] = 0;
    if (!name) return ERROR;
    const auto& vars = host().config.vars;
    auto it = vars.find(narrow(name));
    if (it == vars.end()) return ERROR;
    // Expand $(NAME) references to other variables (undefined ones expand to nothing).
    std::string expanded = it->second;
    for (int round = 0; round < 16; ++round) {
        const auto start = expanded.find("$(");
        if (start == std::string::npos) break;
        const auto end = expanded.find(')', start);
        if (end == std::string::npos) break;
        const auto inner = vars.find(expanded.substr(start + 2, end - start - 2));
        expanded.replace(start, end - start + 1, inner == vars.end() ? std::string() : inner->second);
    }
    copyWide(value, size, widen(expanded));
    return SUCCESS;
}

void mdlVersion_getVersionNumbers(VersionNumber* version) {
    if (!version) return;
    const auto& cfg = subhost::host().config;
    *version = VersionNumber{static_cast<std::uint16_t>(cfg.release), static_cast<std::uint16_t>(cfg.major), 0, 0};
}

int mdlErrno_get() { return subhost::host().misc.lastError; }

}  // extern "C"
