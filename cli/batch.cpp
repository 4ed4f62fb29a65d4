// pixelmend delete|crop|copy|move: the add-on's block commands run on raster files without a design.
//
// Each file is attached to a one-raster design held in memory (one design unit a pixel, origin at the
// image's lower-left corner), the add-on is loaded, the command is keyed in and fed the data points a
// user would give, and the design is closed, which writes the changed pixels back. Everything the
// add-on shows comes back as transcript events; refusals among them become the file's reason.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/batch_events.h"
#include "cli/batch_inputs.h"
#include "cli/batch_run.h"
#include "cli/commands.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace pixelmend {
namespace {

namespace fs = std::filesystem;

constexpr long kMaxCoordinate = 10'000'000;  // pixel coordinates beyond this are typing mistakes

// A block of pixels as image tools count them: x to the right, y down from the top-left corner.
struct PixelRect {
    long x = 0, y = 0, width = 0, height = 0;
};

// What the command line asked for.
struct BatchOptions {
    std::optional<PixelRect> block;                           // --block X,Y,W,H
    std::optional<std::pair<long, long>> to;                  // --to X,Y
    std::optional<std::vector<long>> add;                     // --add TOP,BOTTOM,LEFT,RIGHT
    std::optional<int> answer;                                // --yes (6) / --no (7)
    std::string settingsFile;                                 // --settings FILE
    std::vector<std::pair<std::string, std::string>> fields;  // --set FIELD=VALUE, in order
    std::string appPath;                                      // --app PATH
    bool verbose = false;                                     // --verbose: transcript events on stderr
    bool acceptDamaged = false;                               // --accept-damaged: edit files with damaged pixel data
    std::vector<std::string> files;                           // files and folders
    RunnerOptions runner;                                     // how the files are run
};

// One batch command: its name, the add-on's key-in, the options it needs, the settings it
// fixes for the run (a batch always works on a two-corner block of the one raster), and how the
// data points are made from the options and the image's height.
struct BatchCommand {
    const char* name;
    const char* keyin;
    bool needsBlock;
    bool needsTo;
    std::vector<std::pair<const char*, const char*>> fixedFields;
    std::vector<DPoint3d> (*points)(const BatchOptions& options, int imageHeight);
    // What the run found, told with the file's outcome (null: nothing), from the transcript index on.
    std::string (*report)(std::size_t fromEvent) = nullptr;
    // Resize: the amounts typed after the key-in, and the key-in that applies them (null: none).
    bool needsAdd = false;
    const char* applyKeyin = nullptr;
};

// A worker's peak memory beyond its start-up, per byte of the decoded image: measured with
// /usr/bin/time -v on an 18720 x 13240 monochrome G4 sheet (31 MB decoded): delete 42 MB, crop 71 MB,
// resize 104 MB, deskew 151 MB, despeckle 162 MB at the peak, with some room added.
const std::pair<const char*, double> kMemoryFactors[] = {
    {"delete", 1.5}, {"crop", 2.5}, {"copy", 2.5}, {"move", 2.5}, {"resize", 3.5}, {"deskew", 5.0}, {"despeckle", 5.5}};

// Pixel (x, y down from the top) -> design point (y up from the lower-left corner); pixel edges
// fall on whole design units, so a block's corners select exactly its pixels.
DPoint3d designPoint(long x, long y, int imageHeight) {
    return DPoint3d{double(x), double(imageHeight) - double(y), 0.0};
}

// The block's top-left and bottom-right corners in design coordinates.
std::pair<DPoint3d, DPoint3d> blockCorners(const PixelRect& r, int imageHeight) {
    return {designPoint(r.x, r.y, imageHeight), designPoint(r.x + r.width, r.y + r.height, imageHeight)};
}

// Delete and crop: two corners, then a data point at the first corner accepts the block where it is.
std::vector<DPoint3d> cornersAndAccept(const BatchOptions& o, int imageHeight) {
    const auto [a, b] = blockCorners(*o.block, imageHeight);
    return {a, b, a};
}

// Copy and move: two corners, the base point (the block's top-left corner), the destination.
std::vector<DPoint3d> cornersBaseAndDestination(const BatchOptions& o, int imageHeight) {
    const auto [a, b] = blockCorners(*o.block, imageHeight);
    return {a, b, a, designPoint(o.to->first, o.to->second, imageHeight)};
}

// Deskew and whole-raster despeckle: one data point on the image's top-left pixel (picks the raster,
// or accepts the angle); despeckle with --block: the block's corners and the accepting point.
std::vector<DPoint3d> firstPixel(const BatchOptions&, int imageHeight) {
    return {DPoint3d{0.5, double(imageHeight) - 0.5, 0.0}};
}
std::vector<DPoint3d> blockOrFirstPixel(const BatchOptions& o, int imageHeight) {
    return o.block ? cornersAndAccept(o, imageHeight) : firstPixel(o, imageHeight);
}

// Resize takes no data point: its one raster is picked by itself.
std::vector<DPoint3d> noPoints(const BatchOptions&, int) { return {}; }

const std::vector<std::pair<const char*, const char*>> kBlockMode = {{"ModifyMode", "1"}, {"HybridMode", "0"}};

const BatchCommand kCommands[] = {
    {"delete",
     "PXMEND DELETE",
     true,
     false,
     {{"ModifyMode", "1"}, {"HybridMode", "0"}, {"MaskMethod", "1"}},
     cornersAndAccept},
    {"crop",
     "PXMEND CROP",
     true,
     false,
     {{"ModifyMode", "1"}, {"HybridMode", "0"}, {"ClipMethod", "1"}},
     cornersAndAccept},
    {"copy", "PXMEND COPY", true, true, kBlockMode, cornersBaseAndDestination},
    {"move", "PXMEND MOVE", true, true, kBlockMode, cornersBaseAndDestination},
    {"deskew", "PXMEND DESKEW", false, false, {}, firstPixel, deskewReport},
    {"despeckle", "PXMEND DESPECKLE", false, false, {}, blockOrFirstPixel, despeckleReport},
    {"resize", "PXMEND RESIZE", false, false, {}, noPoints, nullptr, true, "PXMEND RESIZE APPLY"},
};

const char* kBatchHelp =
    "usage: pixelmend delete|crop FILE... --block X,Y,W,H [options]\n"
    "       pixelmend copy|move FILE... --block X,Y,W,H --to X,Y [options]\n"
    "       pixelmend resize FILE... --add TOP,BOTTOM,LEFT,RIGHT [options]\n"
    "  Pixel coordinates count as image tools do: x to the right, y down from the image's\n"
    "  top-left corner. --block gives the block's top-left pixel and its width and height;\n"
    "  --to the pixel where copy and move put the block's top-left corner.\n"
    "  --add the rows added above and below and the columns added left and right of the image\n"
    "  (negative numbers trim; --add=-5,0,0,-7 or --add -5,0,0,-7), in the canvas colour.\n"
    "  --yes | --no          answer the add-on's questions (without them a question stops that file)\n"
    "  --settings FILE       read the add-on's settings from FILE (default: the user's settings file)\n"
    "  --set FIELD=VALUE     override a setting for this run (e.g. --set Backup=0 --set CropCopy=1)\n"
    "  --app PATH            the add-on module to load\n"
    "  --verbose             every host event of the run on stderr\n"
    "  --accept-damaged      edit files whose pixel data is damaged (else refused with the reason);\n"
    "                        what cannot be decoded is white (a palette image's lightest colour)\n"
    "%s"
    "Exit code 0 when no file failed (a file the command leaves as it was is reported unchanged),\n"
    "1 when any file failed (the reason is given per file; a failed file is left as it was),\n"
    "2 for a usage error or when the add-on cannot be loaded, 130 when stopped by Ctrl-C (143 by\n"
    "SIGTERM: the files being worked on are finished first).";

// The help text with the runner's options in it.
std::string batchHelp() {
    std::string help = kBatchHelp;
    help.replace(help.find("%s"), 2, kRunnerHelp);
    return help;
}

int batchUsage(const std::string& message) {
    std::cerr << "pixelmend: " << message << "\n" << batchHelp() << "\n";
    return 2;
}

// A whole number within the coordinate limit; nullopt for anything else.
std::optional<long> coordinate(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != 0 || errno == ERANGE || v < -kMaxCoordinate || v > kMaxCoordinate) return std::nullopt;
    return v;
}

// "A,B,..." split at commas into exactly count whole numbers; nullopt otherwise.
std::optional<std::vector<long>> numberList(const std::string& text, std::size_t count) {
    std::vector<long> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const auto v = coordinate(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!v) return std::nullopt;
        out.push_back(*v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (out.size() != count) return std::nullopt;
    return out;
}

// Reads the options; the error message when they are wrong.
std::optional<std::string> parseOptions(Args args, BatchOptions& o) {
    bool filesOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (filesOnly || a.empty() || a[0] != '-') {
            o.files.push_back(a);
            continue;
        }
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        std::string problem;
        if (takeRunnerOption(args, i, o.runner, &problem)) {
            if (!problem.empty()) return problem;
        } else if (a == "--") {
            filesOnly = true;
        } else if (a == "--block") {
            const auto v = value();
            const auto n = v ? numberList(*v, 4) : std::nullopt;
            if (!n || (*n)[2] <= 0 || (*n)[3] <= 0)
                return "--block takes X,Y,W,H: whole numbers, width and height above 0";
            o.block = PixelRect{(*n)[0], (*n)[1], (*n)[2], (*n)[3]};
        } else if (a == "--add" || a.rfind("--add=", 0) == 0) {
            const auto v = a == "--add" ? value() : std::optional<std::string>(a.substr(6));
            const auto n = v ? numberList(*v, 4) : std::nullopt;
            if (!n) return "--add takes TOP,BOTTOM,LEFT,RIGHT: four whole numbers (negative ones trim)";
            o.add = *n;
        } else if (a == "--to") {
            const auto v = value();
            const auto n = v ? numberList(*v, 2) : std::nullopt;
            if (!n) return "--to takes X,Y: whole numbers";
            o.to = std::pair{(*n)[0], (*n)[1]};
        } else if (a == "--yes" || a == "--no") {
            const int answer = a == "--yes" ? 6 : 7;
            if (o.answer && *o.answer != answer) return "--yes and --no exclude each other";
            o.answer = answer;
        } else if (a == "--settings") {
            const auto v = value();
            if (!v || v->empty()) return "--settings takes a FILE";
            o.settingsFile = *v;
        } else if (a == "--set") {
            const auto v = value();
            const auto eq = v ? v->find('=') : std::string::npos;
            if (eq == std::string::npos || eq == 0) return "--set takes FIELD=VALUE";
            o.fields.emplace_back(v->substr(0, eq), v->substr(eq + 1));
        } else if (a == "--app") {
            const auto v = value();
            if (!v || v->empty()) return "--app takes a PATH";
            o.appPath = *v;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--accept-damaged") {
            o.acceptDamaged = true;
        } else {
            return "unknown option " + a;
        }
    }
    return std::nullopt;
}

// Checks the options against what the command needs; the error message when they do not fit.
std::optional<std::string> checkOptions(const BatchCommand& command, BatchOptions& o) {
    if (o.files.empty() && o.runner.filesFrom.empty()) return std::string(command.name) + " needs at least one FILE";
    if (command.needsBlock && !o.block) return std::string(command.name) + " needs --block X,Y,W,H";
    if (command.needsTo && !o.to) return std::string(command.name) + " needs --to X,Y";
    if (!command.needsTo && o.to) return std::string(command.name) + " takes no --to";
    if (command.needsAdd && !o.add) return std::string(command.name) + " needs --add TOP,BOTTOM,LEFT,RIGHT";
    if (!command.needsAdd && o.add) return std::string(command.name) + " takes no --add";
    for (const auto& [field, value] : o.fields)
        for (const auto& [fixed, fixedValue] : command.fixedFields)
            if (field == fixed)
                return field + " cannot be set: " + command.name + " always runs with " + fixed + "=" + fixedValue;
    if (!o.settingsFile.empty()) {
        std::error_code ec;
        o.settingsFile = fs::absolute(o.settingsFile, ec).string();
        if (!fs::is_regular_file(o.settingsFile, ec) || ::access(o.settingsFile.c_str(), R_OK) != 0)
            return "settings file " + o.settingsFile + " is missing or cannot be read";
    }
    if (o.appPath.empty()) o.appPath = defaultApp();
    return std::nullopt;
}

// The file as it was before the run, held by a hidden hard link beside it (no copy, whatever its
// size), so that a run that replaced the file and then failed can put it back. The link goes when
// this does.
class HeldOriginal {
public:
    explicit HeldOriginal(const fs::path& file) : file_(file) {
        link_ = file.parent_path() / ("." + file.filename().string() + ".batch-" + std::to_string(::getpid()));
        ::unlink(link_.c_str());
        if (::link(file.c_str(), link_.c_str()) != 0) link_.clear();  // no links here: nothing can be put back
    }
    ~HeldOriginal() {
        if (!link_.empty()) ::unlink(link_.c_str());
    }
    HeldOriginal(const HeldOriginal&) = delete;
    HeldOriginal& operator=(const HeldOriginal&) = delete;
    // Renames the held original over the file in one step; false when there is none or that fails.
    bool restore() {
        if (link_.empty() || ::rename(link_.c_str(), file_.c_str()) != 0) return false;
        link_.clear();
        return true;
    }

private:
    fs::path file_;
    fs::path link_;
};

// What happened to one file.
struct FileOutcome {
    bool ok = false;
    bool changed = false;  // some file was written
    std::string reason;    // why it failed
    std::string detail;    // what it changed, or why nothing changed
    std::string found;     // what the command found (an angle, a count)
};

// A failed outcome with its reason.
FileOutcome failure(std::string reason) {
    FileOutcome out;
    out.reason = std::move(reason);
    return out;
}

// The in-memory design: one view showing the whole image, the file attached at the origin.
nlohmann::json designFor(const fs::path& file, int width, int height) {
    return {{"name", "pixelmend-batch.dgn"},
            {"views", {{{"rotation", 0}, {"origin", {0, 0, 0}}, {"extent", {width, height, 0}}, {"fill", true}}}},
            {"rasters", {{{"file", file.string()}, {"origin", {0, 0, 0}}}}}};
}

// Thrown for a failure that ends the whole run (the add-on cannot load, a setting is unknown).
struct RunError {
    std::string message;
};

// Loads the add-on and gives it the run's settings; throws RunError when that fails.
void prepareHost(const BatchCommand& command, const BatchOptions& o) {
    std::string error;
    if (!subhost::loadApplication(o.appPath, "KEYIN", &error)) throw RunError{"cannot load the add-on: " + error};
    for (const auto& [field, value] : o.fields)
        if (!subhost::setField(field, value, &error)) throw RunError{"--set " + field + "=" + value + ": " + error};
    for (const auto& [field, value] : command.fixedFields)
        if (!subhost::setField(field, value, &error)) throw RunError{"cannot set " + std::string(field) + ": " + error};
}

// Runs the command's key-in and points; the failure reason, empty when the add-on reported none.
std::string runCommandOn(const BatchCommand& command, const BatchOptions& o, int height) {
    const std::size_t start = subhost::transcript().size();
    std::string error;
    if (!subhost::keyin(command.keyin, &error)) return error;
    for (const DPoint3d& p : command.points(o, height)) {
        std::string refusal = reportedFailure(start);
        if (!refusal.empty()) return refusal;
        subhost::dataPoint(p, 0);
    }
    if (command.applyKeyin && reportedFailure(start).empty()) {
        // The amounts in the order of the tool settings fields: top, bottom, left, right.
        static const char* const kAmounts[] = {"ResizeRowsEnd", "ResizeRowsStart", "ResizeColumnsStart",
                                               "ResizeColumnsEnd"};
        for (std::size_t i = 0; i < 4; ++i)
            if (!subhost::setField(kAmounts[i], std::to_string((*o.add)[i]), &error)) return error;
        if (!subhost::keyin(command.applyKeyin, &error)) return error;
    }
    return reportedFailure(start);
}

// Runs the command on one file in a fresh host; throws RunError for failures that end the run.
FileOutcome runOnFile(const BatchCommand& command, const BatchOptions& o, const std::string& name) {
    FileOutcome out;
    std::error_code ec;
    const fs::path file = fs::absolute(name, ec).lexically_normal();
    const auto status = fs::status(file, ec);
    if (ec || !fs::exists(status)) return failure("file not found");
    if (!fs::is_regular_file(status)) return failure("not a regular file");
    if (::access(file.c_str(), R_OK) != 0) return failure("cannot be read (no read permission)");
    const subhost::imagefile::InfoResult info = subhost::imagefile::readInfo(file.string());
    if (!info.ok) return failure(info.error);

    const FileStamp before = stampOf(file.string());
    const std::set<std::string> namesBefore = derivedNames(file);
    HeldOriginal original(file);
    bool converted = false;
    FileStamp afterConversion;
    subhost::hostReset();
    if (o.verbose) subhost::setTranscriptStream(&std::cerr);
    if (!o.settingsFile.empty()) subhost::setCfgVar("PXMEND_SETTINGS", o.settingsFile);
    if (o.acceptDamaged) subhost::setCfgVar("PXMEND_ACCEPT_DAMAGED", "1");
    subhost::setDefaultAnswer(o.answer);
    std::string error;
    if (!subhost::openDesignDocument(designFor(file, info.info.width, info.info.height), file.parent_path().string(),
                                     &error))
        return failure(error);
    const std::size_t opened = subhost::transcript().size();
    try {
        out.reason = reportedFailure(0);
        if (out.reason.empty()) {
            prepareHost(command, o);
            out.reason = runCommandOn(command, o, info.info.height);
            // A file the add-on cannot edit as it is (a 32-bit LZW TIFF) is converted in place when the
            // question is answered yes, and the command ends there: the user runs it again, and so does
            // the batch, once, on the converted file.
            const subhost::imagefile::InfoResult now = subhost::imagefile::readInfo(file.string());
            if (out.reason.empty() && now.ok && now.info.mode != info.info.mode) {
                converted = true;
                afterConversion = stampOf(file.string());
                out.reason = runCommandOn(command, o, now.info.height);
            }
            if (command.report) out.found = command.report(opened);
        }
    } catch (const subhost::SessionStop& stop) {
        out.reason = stopReason(stop);
    } catch (const RunError&) {
        subhost::discardRasterChanges();
        subhost::hostReset();
        throw;
    } catch (const std::exception& e) {
        out.reason = std::string("failed: ") + e.what();
    }
    if (!out.reason.empty()) subhost::discardRasterChanges();
    const std::size_t closing = subhost::transcript().size();
    subhost::setDefaultAnswer(std::nullopt);
    try {
        subhost::closeDesign();
        unloadWithoutSaving();
    } catch (const subhost::SessionStop& stop) {
        if (out.reason.empty()) out.reason = stopReason(stop);
    }
    if (out.reason.empty()) out.reason = reportedFailure(closing);
    out.changed = fileWritten(opened);
    const std::string damage = acceptedDamage(opened);
    const std::string damageNote = damage.empty() ? "" : "damaged data accepted, undecoded part white: " + damage;
    if (out.reason.empty() && !out.changed) {
        const std::string declined = declinedQuestion(opened, closing);
        out.detail = declined.empty() ? "no pixel differed" : "answered no to \"" + declined + "\"";
        if (!damageNote.empty()) out.detail += "; " + damageNote;
    }
    subhost::setTranscriptStream(nullptr);
    subhost::hostReset();

    out.ok = out.reason.empty();
    // A failed file is left as it was: a conversion the failed run made is taken back, unless the
    // file has changed again since (another program's version stays).
    if (!out.ok && converted && stampOf(file.string()) == afterConversion) {
        if (original.restore())
            converted = false;
        else
            out.reason += "; the file stays converted: its original could not be put back";
    }
    if (out.ok && !out.changed) return out;
    if (stampOf(file.string()) != before)
        out.detail = file.filename().string() + (converted ? " converted to 24-bit colour and changed" : " changed");
    for (const std::string& n : derivedNames(file))
        if (!namesBefore.count(n)) out.detail += (out.detail.empty() ? "new " : ", new ") + n;
    if (!damageNote.empty()) out.detail += (out.detail.empty() ? "" : "; ") + damageNote;
    return out;
}

// The options that change what a run does to a file, in a fixed order: a run with other ones
// keeps a journal section of its own.
nlohmann::json identityOf(const BatchCommand& command, const BatchOptions& o) {
    nlohmann::json id = {{"command", command.name}};
    if (o.block) id["block"] = {o.block->x, o.block->y, o.block->width, o.block->height};
    if (o.to) id["to"] = {o.to->first, o.to->second};
    if (o.add) id["add"] = *o.add;
    if (o.answer) id["answer"] = *o.answer == 6 ? "yes" : "no";
    if (!o.settingsFile.empty()) id["settings"] = o.settingsFile;
    if (o.acceptDamaged) id["acceptDamaged"] = true;
    nlohmann::json fields = nlohmann::json::array();
    for (const auto& [field, value] : o.fields) fields.push_back(field + "=" + value);
    if (!fields.empty()) id["set"] = fields;
    return id;
}

// What --dry-run says is done to each file: the command and its options.
std::string planOf(const BatchCommand& command, const BatchOptions& o) {
    std::string plan = command.name;
    auto list = [](const std::vector<long>& v) {
        std::string text;
        for (long n : v) text += (text.empty() ? "" : ",") + std::to_string(n);
        return text;
    };
    if (o.block) plan += " --block " + list({o.block->x, o.block->y, o.block->width, o.block->height});
    if (o.to) plan += " --to " + list({o.to->first, o.to->second});
    if (o.add) plan += " --add " + list(*o.add);
    if (o.answer) plan += *o.answer == 6 ? " --yes" : " --no";
    for (const auto& [field, value] : o.fields) plan += " --set " + field + "=" + value;
    return plan;
}

// Runs one file in a worker: its outcome as the runner takes it.
WorkOutcome workOn(const BatchCommand& command, const BatchOptions& o, const std::string& file) {
    WorkOutcome w;
    try {
        const FileOutcome out = runOnFile(command, o, file);
        w.result = !out.ok ? "failed" : out.changed ? "done" : "unchanged";
        w.found = out.found;
        w.detail = out.detail;
        w.reason = out.reason;
    } catch (const RunError& e) {
        w.result = "failed";
        w.fatal = e.message;
    }
    return w;
}

}  // namespace

int runBatch(const std::string& name, Args args) {
    const BatchCommand* command = nullptr;
    for (const auto& c : kCommands)
        if (name == c.name) command = &c;
    if (!command) return usageError("unknown batch command " + name);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << batchHelp() << "\n";
        return 0;
    }
    BatchOptions options;
    if (auto problem = parseOptions(args, options)) return batchUsage(*problem);
    if (auto problem = checkOptions(*command, options)) return batchUsage(*problem);

    BatchJob job;
    job.command = name;
    job.identity = identityOf(*command, options);
    job.inputs = options.files;
    job.plan = planOf(*command, options);
    for (const auto& [commandName, factor] : kMemoryFactors)
        if (name == commandName) job.memoryFactor = factor;
    job.work = [command, &options](const std::string& file) { return workOn(*command, options, file); };
    return runJob(job, options.runner);
}

}  // namespace pixelmend
