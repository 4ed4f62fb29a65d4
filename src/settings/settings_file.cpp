// The settings file: key=value lines written in a fixed order and read back
// leniently (unknown keys and malformed lines are skipped, missing keys keep
// their values). The file comes from outside, so the reader refuses what is not
// a plain file and holds at most one line chunk of it at a time, whatever its size.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/hostio.h"
#include "host/hostwrap.h"
#include "host/messages.h"
#include "settings/settings_file.h"

namespace {

using K = SettingsKeyKind;

// File order of the keyed fields. FirstRunUnderV10 is written and read but not
// compared: it changes on every first start and must not cause a question.
const SettingsKey k_keys[] = {
    {"Interface", K::Number, &t_globals::Interface, true},
    {"BorderColor", K::Number, &t_globals::BorderColor, true},
    {"ResizeCopy", K::Number, &t_globals::ResizeCopy, true},
    {"CropCopy", K::Number, &t_globals::CropCopy, true},
    {"EditCopy", K::Number, &t_globals::EditCopy, true},
    {"Backup", K::Number, &t_globals::Backup, true},
    {"DisplayPrompts", K::Number, &t_globals::DisplayPrompts, true},
    {"ScratchDirOption", K::Number, &t_globals::ScratchDirOption, true},
    {"ScratchDir", K::Text, nullptr, true},
    {"ModifyMode", K::Number, &t_globals::ModifyMode, true},
    {"HybridMode", K::Number, &t_globals::HybridMode, true},
    {"StampMode", K::Number, &t_globals::StampMode, true},
    {"StampDelete", K::Number, &t_globals::StampDelete, true},
    {"DeskewMode", K::Number, &t_globals::DeskewMode, true},
    {"DeskewCorner", K::Number, &t_globals::DeskewCorner, true},
    {"DespeckleMode", K::Number, &t_globals::DespeckleMode, true},
    {"DespeckleX", K::Number, &t_globals::DespeckleX, true},
    {"DespeckleY", K::Number, &t_globals::DespeckleY, true},
    {"ClipMethod", K::Number, &t_globals::ClipMethod, true},
    {"MaskMethod", K::Number, &t_globals::MaskMethod, true},
    {"ShellAction", K::Number, &t_globals::ShellAction, true},
    {"ResizeDestination", K::Number, &t_globals::ResizeDestination, true},
    {"MergePixels", K::Number, &t_globals::MergePixels, true},
    {"CreateNewFile", K::Number, &t_globals::CreateNewFile, true},
    {"DontShowV8iWarning", K::Number, &t_globals::DontShowV8iWarning, true},
    {"FirstRunUnderV10", K::Number, &t_globals::FirstRunUnderV10, false},
    {"CanvasAuto", K::Number, &t_globals::CanvasAuto, true},
    {"CanvasColorIndex", K::Number, &t_globals::CanvasColorIndex, true},
    {"CanvasColor", K::Rgb, nullptr, true},
};

constexpr char k_weightPrefix[] = "LineWeight";
constexpr char k_stylePrefix[] = "LineStyle";

// Appends one printf-formatted line to text.
template <typename... Args>
void v_lineAdd(std::string& text, const char* format, Args... args) {
    char line[512];
    std::snprintf(line, sizeof line, format, args...);
    text += line;
    text += '\n';
}

// Shows the settings message format (one %s: the path) when report is set.
void v_settingsMessage(bool report, const char* format, const std::string& path) {
    if (!report) return;
    char text[512];
    std::snprintf(text, sizeof text, format, path.c_str());
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
}

// Copies value into a fixed text field when it fits; a longer value leaves the field as it was.
template <std::size_t N>
void v_fieldTextSet(char (&field)[N], const char* value) {
    if (std::strlen(value) < N) std::memcpy(field, value, std::strlen(value) + 1);
}

// "r,g,b": each component given sets its colour, clamped to 0-255; missing ones keep theirs.
void v_canvasColorParse(CanvasRgb& color, const char* value) {
    std::uint8_t* parts[3] = {&color.red, &color.green, &color.blue};
    const char* p = value;
    for (int i = 0; i < 3 && p; ++i) {
        const int n = j_settingsNumber(p);
        *parts[i] = static_cast<std::uint8_t>(n < 0 ? 0 : n > 255 ? 255 : n);
        p = std::strchr(p, ',');
        if (p) ++p;
    }
}

// Applies one key=value pair to record; unknown keys and out-of-range entries are skipped.
void v_settingApply(t_globals& record, const char* key, const char* value) {
    if (std::strncmp(key, k_weightPrefix, sizeof k_weightPrefix - 1) == 0) {
        const int index = j_settingsNumber(key + sizeof k_weightPrefix - 1);
        if (index >= 0 && index < 32) record.LineWeight[index] = j_settingsNumber(value);
        return;
    }
    if (std::strncmp(key, k_stylePrefix, sizeof k_stylePrefix - 1) == 0) {
        const int index = j_settingsNumber(key + sizeof k_stylePrefix - 1);
        if (index >= 0 && index < 8) v_fieldTextSet(record.LineStyle[index], value);
        return;
    }
    for (const SettingsKey& k : k_keys) {
        if (std::strcmp(key, k.name) != 0) continue;
        switch (k.kind) {
        case K::Number:
            record.*k.number = j_settingsNumber(value);
            break;
        case K::Text:
            v_fieldTextSet(record.ScratchDir, value);
            break;
        case K::Rgb:
            v_canvasColorParse(record.CanvasColor, value);
            break;
        }
        return;
    }
}

// Applies one line (without its newline) of the file.
void v_settingsLineApply(t_globals& record, std::string line) {
    line.resize(std::strlen(line.c_str()));  // text after a NUL byte is not part of the line
    if (line.empty() || line[0] == '#') return;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    line[equals] = '\0';
    v_settingApply(record, line.c_str(), line.c_str() + equals + 1);
}

// Cuts the bytes of a settings file into the lines the reader applies: a line ends at
// a newline (CR LF counts as one, as in a file written on Windows) or after
// SETTINGS_LINE_CHUNK characters, when the rest of it goes on as a line of its own.
// Bytes may come in pieces of any size.
class SettingsLineSplitter {
public:
    explicit SettingsLineSplitter(t_globals& record) : record_(record) { line_.reserve(SETTINGS_LINE_CHUNK); }

    // Takes the next bytes of the file.
    void v_feed(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (carriageReturn_) {
                carriageReturn_ = false;
                if (c == '\n') {
                    v_lineEnd();
                    continue;
                }
                v_append('\r');  // a CR on its own is part of the line
            }
            if (c == '\r')
                carriageReturn_ = true;
            else if (c == '\n')
                v_lineEnd();
            else
                v_append(c);
        }
    }

    // The file ended: its last line, when it has no newline, is applied too.
    void v_finish() {
        if (carriageReturn_) v_append('\r');
        carriageReturn_ = false;
        v_lineEnd();
    }

private:
    void v_append(char c) {
        line_ += c;
        if (line_.size() == SETTINGS_LINE_CHUNK) v_lineEnd();
    }
    void v_lineEnd() {
        v_settingsLineApply(record_, line_);
        line_.clear();
    }

    t_globals& record_;
    std::string line_;
    bool carriageReturn_ = false;
};

// Outcome of reading the file.
enum class LoadResult { Loaded, Unreadable };

// Hands the bytes the host reads to the line splitter.
void v_settingsChunk(void* lines, const char* data, std::size_t size) {
    static_cast<SettingsLineSplitter*>(lines)->v_feed(data, size);
}

// Reads the file at path into record line by line; the host refuses anything but a regular file,
// so that a device or a pipe cannot hang the reader. Record may be partly changed when the result
// is Unreadable.
LoadResult j_settingsLoad(const std::string& path, t_globals& record) {
    SettingsLineSplitter lines(record);
    if (j_hostFileRead(path.c_str(), &v_settingsChunk, &lines) != 0) return LoadResult::Unreadable;
    lines.v_finish();
    return LoadResult::Loaded;
}

// After a successful read or write: the record becomes the state the change test and
// the settings dialog compare against, and a chosen path becomes the settings file.
void v_settingsCommitted(const char* chosenPath) {
    g_settings.snapshot = s__globals;
    g_settings.dialogCopy = s__globals;
    if (chosenPath) std::snprintf(g_settings.fileName, sizeof g_settings.fileName, "%s", chosenPath);
}

}  // namespace

const SettingsKey* pv_settingsKeys(std::size_t* count) {
    if (count) *count = sizeof k_keys / sizeof k_keys[0];
    return k_keys;
}

int j_settingsNumber(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

std::string s_settingsText(const t_globals& r, const char* dateText) {
    std::string text;
    v_lineAdd(text, "Date created=%s", dateText ? dateText : "");
    for (const SettingsKey& k : k_keys) {
        switch (k.kind) {
        case K::Number:
            v_lineAdd(text, "%s=%d", k.name, r.*k.number);
            break;
        case K::Text:
            v_lineAdd(text, "%s=%s", k.name, r.ScratchDir);
            break;
        case K::Rgb:
            v_lineAdd(text, "%s=%d,%d,%d", k.name, r.CanvasColor.red, r.CanvasColor.green, r.CanvasColor.blue);
            break;
        }
    }
    for (int i = 0; i < 32; ++i) v_lineAdd(text, "LineWeight%d=%d", i, r.LineWeight[i]);
    for (int i = 0; i < 8; ++i) v_lineAdd(text, "LineStyle%d=%s", i, r.LineStyle[i]);
    return text;
}

void v_settingsParse(t_globals& record, const std::string& text) {
    SettingsLineSplitter lines(record);
    lines.v_feed(text.data(), text.size());
    lines.v_finish();
}

int j_settingsRead(bool choose, bool report) {
    const char* source = choose ? pc_settingsFileChoose(false) : g_settings.fileName;
    if (!source) return ERROR;
    const std::string path = source;

    char found[MAXFILELENGTH];
    if (j_fileFind(found, path.c_str(), nullptr, nullptr) != SUCCESS) {
        v_settingsMessage(report, "Settings file %s doesn't exist.", path);
        return SETTINGS_MISSING;
    }
    // Read into a copy, so that the record changes only once the whole file was read.
    t_globals record = s__globals;
    if (j_settingsLoad(path, record) != LoadResult::Loaded) {
        v_settingsMessage(report, "Unable to read settings file %s.", path);
        return SETTINGS_UNREADABLE;
    }
    s__globals = record;
    v_settingsCommitted(choose ? path.c_str() : nullptr);
    return SUCCESS;
}

int j_settingsWrite(bool choose, bool report) {
    const char* target = choose ? pc_settingsFileChoose(true) : g_settings.fileName;
    if (!target) return ERROR;
    const std::string path = target;

    char date[64];
    j_dateStamp(date);
    // The host's one file writer: temporary beside the file, renamed over it (see host/hostio.h).
    const std::string text = s_settingsText(s__globals, date);
    const int code = path.empty() ? 0 : j_hostFileReplace(path.c_str(), text.data(), text.size());
    if (path.empty() || code != 0) {
        v_settingsMessage(report, "Unable to write settings file %s.", path);
        // The box's words are fixed; the message centre says why, a full disk in so many words.
        if (report && code != 0) {
            const std::string brief = "Settings file " + path + " was not written: " +
                                      (code == ENOSPC || code == EDQUOT ? "the disk is full" : std::strerror(code));
            if (brief != g_settings.writeFailureSaid)
                v_outputMessageCenter(OutputMessagePriority_Error, brief.c_str(), std::strerror(code), false);
            g_settings.writeFailureSaid = brief;
        }
        return ERROR;
    }
    g_settings.writeFailureSaid.clear();
    v_settingsCommitted(choose ? path.c_str() : nullptr);
    return SUCCESS;
}
