// The substitute host's own C++ interface: used by the `pixelmend` command and
// by in-process tests to drive the host the way a user at the real host would
// (open designs, load applications, key in, answer questions) and to read the
// transcript of everything the host showed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/mdldialog.h"
#include "host/mdlresource.h"
#include "host/mdlsystem.h"
#include "host/mdltypes.h"

namespace subhost {

// Thrown when the host must ask the user something that has no answer (no queued
// answer, no default): the session stops with exit code 3.
class SessionStop : public std::runtime_error {
public:
    SessionStop(int exitCode, const std::string& question)
        : std::runtime_error(question), exitCode_(exitCode), question_(question) {}
    int exitCode() const { return exitCode_; }
    const std::string& question() const { return question_; }

private:
    int exitCode_;
    std::string question_;
};

// Makes a fresh host: no design, no application, no cfg variables, empty queues and transcript, version 10.17.
void hostReset();
// Every event recorded since the last reset or clear.
const std::vector<nlohmann::json>& transcript();
// Forgets the recorded events.
void clearTranscript();
// Also writes every event as one JSON line to out (null: to nowhere).
void setTranscriptStream(std::ostream* out);

// Defines (value) or undefines (nullopt) a configuration variable.
void setCfgVar(const std::string& name, std::optional<std::string> value);
// Version numbers reported to applications.
void setVersion(int release, int major);

// Queues the answer (button action) of the next question box.
void queueAnswer(int action);
// Answer used when none is queued; nullopt: an unanswered question stops the session (SessionStop).
void setDefaultAnswer(std::optional<int> action);
// Queues the answer of the next file dialog; nullopt cancels it.
void queueFileAnswer(std::optional<std::string> path);
// Queues the answer of the next colour chooser; nullopt cancels it.
void queueColorAnswer(std::optional<std::array<std::uint8_t, 3>> rgb);

// Opens the design file described by the JSON file; false with *error naming the file and problem (nothing changed).
bool openDesign(const std::string& jsonPath, std::string* error);
// Opens a design described by doc (checked as a design file is) without a file on disk: raster
// files resolve against baseDir and `name` defaults to "untitled.dgn"; false with *error (nothing changed).
bool openDesignDocument(const nlohmann::json& doc, const std::string& baseDir, std::string* error);
// Drops the pixel changes of the open raster files that were not written back yet (closing
// the design then writes nothing); changes already on disk stay.
void discardRasterChanges();
// Closes the open design (new-design-file reason 0); nothing when none is open.
void closeDesign();
// Saves the open design: changed raster files written back, the description rewritten with the
// attachments as they are now (temporary file, then rename); false with *error (the file kept as it was).
bool saveDesign(std::string* error);
// Saves the open design's description to path instead (the design keeps its own file); false with *error.
bool saveDesignAs(const std::string& path, std::string* error);

// Loads the application module (dlopen, MdlResources, MdlMain(modulePath, how)); false with *error.
bool loadApplication(const std::string& modulePath, const std::string& how, std::string* error);
// Loads an application linked into this process: its MdlMain and resources; false with *error.
bool loadLinkedApplication(int (*mdlMain)(int, WCharCP*), const rsc::File* (*resources)(),
                           const std::string& modulePath, const std::string& how, std::string* error);
// Asks the loaded application to unload with unloadType: 0 unloaded, 1 refused (or none loaded).
int unloadApplication(int unloadType);
// True while an application is loaded.
bool applicationLoaded();

// A key-in parsed with the application's command table; false with *error for an empty line.
bool keyin(const std::string& text, std::string* error);
// Runs a command number with its argument, then the queued commands.
void runCommand(CommandNumber number, const std::string& argument);
// Input of the current tool state.
void dataPoint(DPoint3d p, int view);
void resetButton();
void cursorMove(DPoint3d p, int view);

// Sets a field of the published record as a bound item would ("ScaleX", "LineStyle3", "CanvasColor"); false with
// *error.
bool setField(const std::string& field, const std::string& value, std::string* error);
// Opens or closes the tool settings window.
void toolSettings(bool open);
// Gives value to the item (type, id) of dialog ("toolsettings" or an id) as a user edit would; false with *error.
bool itemSet(const std::string& dialog, std::uint32_t type, int id, const std::string& value, std::string* error);
// Presses the item (type, id) of dialog; false with *error.
bool itemPress(const std::string& dialog, std::uint32_t type, int id, std::string* error);
// The user closes the dialog's window; false with *error.
bool closeDialog(const std::string& dialog, std::string* error);

// The published record's fields as JSON ({"event":"settings","fields":{...}}); also recorded.
nlohmann::json dumpSettings();
// The dialog's items as JSON ({"event":"items",...}); also recorded.
nlohmann::json dumpItems(const std::string& dialog);
// The menus of the command window's menu bar with their items' enabled state and marks; also recorded.
nlohmann::json dumpMenus();

// How a session runs: the default answer and the application its `load` lines load.
struct SessionOptions {
    std::optional<int> defaultAnswer;            // --answers yes (6) or no (7); nullopt: none
    std::string appPath;                         // module to load; empty: env PIXELMEND_APP
    int (*linkedMain)(int, WCharCP*) = nullptr;  // or an application linked into this process
    const rsc::File* (*linkedResources)() = nullptr;
};

// Runs a session script on the host as it is (hostReset first for a fresh one); events go to out,
// diagnostics to err; the exit code: 0 clean, 2 bad script line or input, 3 unanswered question.
int runSession(const std::string& scriptPath, const SessionOptions& options, std::ostream& out, std::ostream& err);
// The same with the application of env PIXELMEND_APP.
int runSession(const std::string& scriptPath, std::optional<int> defaultAnswer, std::ostream& out, std::ostream& err);

// Records a host event (adds it to the transcript and writes it to the stream).
void recordEvent(nlohmann::json event);

// What a view shows, as a picture: rows top to bottom, 3 bytes r, g, b a pixel.
struct ViewPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    std::vector<std::string> notes;  // rasters that could not be shown, with the reason
};

constexpr int kMaxPictureSide = 16384;
constexpr std::int64_t kMaxPicturePixels = 64ll << 20;

// Takes a view number of the open design and a picture size (0 x 0: the view's proportions, 1024 pixels on the
// longer side), gives in *out the view's rasters and elements as the host shows them (see render.cpp); false with
// *error for no design, no such view, a size out of range or a view with nothing to show.
bool renderView(int view, int width, int height, ViewPicture* out, std::string* error);

// Takes an output path, a view number and a picture size as renderView does; draws the view and writes it as an RGB
// PNG through a temporary file, giving in *notes (may be null) the rasters left out; false with *error (the view
// cannot be drawn, or the picture cannot be written: then a file already at pngPath is left as it was).
bool renderViewToPng(const std::string& pngPath, int view, int width, int height, std::vector<std::string>* notes,
                     std::string* error);
// The same, also giving the written picture's size in *drawnWidth x *drawnHeight (either may be null).
bool renderViewToPng(const std::string& pngPath, int view, int width, int height, std::vector<std::string>* notes,
                     std::string* error, int* drawnWidth, int* drawnHeight);

// How element weights and line styles are drawn, in picture pixels: widths[w] is the pen width of weight w,
// dashes[s] the on/off lengths of style s (empty: solid).
struct LineSymbology {
    int widths[32] = {};
    std::vector<double> dashes[8];
};

// Gives the line weights and styles of the settings file in use (cfg PXMEND_SETTINGS, else
// $XDG_CONFIG_HOME/pixelmend/Pxmend.ini, else ~/.config/pixelmend/Pxmend.ini); a missing or unreadable
// file, key or value gives the factory value (weight n: n + 1 pixels); never fails.
LineSymbology lineSymbologyFromSettings();

}  // namespace subhost
