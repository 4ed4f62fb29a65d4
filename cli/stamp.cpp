// pixelmend stamp: burns a design's elements into its raster attachments without a session script.
//
// The design is opened, the add-on loaded and its stamp command run once per attachment (or on the one
// named), with a data point on the raster as a user would give; the design is then saved: the raster files
// written back (with their backups as the settings say) and the description without the stamped elements.
#include <cmath>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch_events.h"
#include "cli/commands.h"
#include "subhost/host.h"
#include "subhost/raster/raster.h"

namespace pixelmend {
namespace {

namespace fs = std::filesystem;

const char* kStampHelp =
    "usage: pixelmend stamp DESIGN.json [--raster FILE] [--mode fence|selected|all] [--keep-elements]\n"
    "                       [--yes|--no] [--settings FILE] [--set FIELD=VALUE] [--app PATH] [--verbose]\n"
    "  Burns the design's elements into the pixels of its raster attachments, each element in its colour,\n"
    "  weight and line style, and removes the stamped elements from the design (pieces outside a raster stay).\n"
    "  --mode all       every element overlapping the raster (default)\n"
    "  --mode fence     the elements inside the design's fence\n"
    "  --mode selected  the design's selected elements\n"
    "  --raster FILE    only the attachment of FILE (default: every attachment in turn)\n"
    "  --keep-elements  leave the stamped elements in the design\n"
    "  --yes | --no     answer the question before stamping (without them the question stops the run)\n"
    "  --settings FILE, --set FIELD=VALUE, --app PATH, --verbose: as for the other batch commands\n"
    "One line per raster: done, unchanged (with the reason) or FAILED: reason.\n"
    "Exit code 0 when no raster failed, 1 when any failed, 2 for a usage error or when the design or the\n"
    "add-on cannot be loaded.";

struct StampOptions {
    std::string design;
    std::string raster;
    std::string mode = "5";
    bool keepElements = false;
    std::optional<int> answer;
    std::string settingsFile;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string appPath;
    bool verbose = false;
};

int stampUsage(const std::string& message) {
    std::cerr << "pixelmend: " << message << "\n" << kStampHelp << "\n";
    return 2;
}

// Reads the command line into o; a usage problem, or nullopt.
std::optional<std::string> parseStamp(Args args, StampOptions& o) {
    o.appPath = defaultApp();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) -> bool {
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--raster") {
            if (!value(&o.raster)) return "--raster needs a FILE";
        } else if (a == "--mode") {
            if (!value(&v)) return "--mode needs fence, selected or all";
            if (v == "fence")
                o.mode = "0";
            else if (v == "selected")
                o.mode = "3";
            else if (v == "all")
                o.mode = "5";
            else
                return "--mode takes fence, selected or all, not " + v;
        } else if (a == "--keep-elements") {
            o.keepElements = true;
        } else if (a == "--yes" || a == "--no") {
            if (o.answer) return "give --yes or --no once";
            o.answer = a == "--yes" ? 6 : 7;
        } else if (a == "--settings") {
            if (!value(&o.settingsFile)) return "--settings needs a FILE";
        } else if (a == "--set") {
            if (!value(&v) || v.find('=') == std::string::npos || v.front() == '=') return "--set needs FIELD=VALUE";
            o.fields.emplace_back(v.substr(0, v.find('=')), v.substr(v.find('=') + 1));
        } else if (a == "--app") {
            if (!value(&o.appPath)) return "--app needs a PATH";
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (o.design.empty()) {
            o.design = a;
        } else {
            return "stamp takes one DESIGN.json";
        }
    }
    if (o.design.empty()) return "stamp needs a DESIGN.json";
    return std::nullopt;
}

// A design point inside the raster: the centre of its pixels.
DPoint3d rasterCentre(const DgnRaster& raster) {
    const RasterGeoReference& g = raster.geo;
    const double turn = g.rotation * 3.14159265358979323846 / 180.0;
    const double hx = g.extentX / 2, hy = g.extentY / 2;
    return DPoint3d{g.origin.x + hx * std::cos(turn) - hy * std::sin(turn),
                    g.origin.y + hx * std::sin(turn) + hy * std::cos(turn), 0.0};
}

// Opens the design and loads the add-on with the run's settings; an error text, empty when ready.
std::string prepare(const StampOptions& o) {
    subhost::hostReset();
    if (o.verbose) subhost::setTranscriptStream(&std::cerr);
    if (!o.settingsFile.empty()) subhost::setCfgVar("PXMEND_SETTINGS", o.settingsFile);
    std::string error;
    if (!subhost::openDesign(o.design, &error)) return error;
    if (!subhost::loadApplication(o.appPath, "KEYIN", &error)) return "cannot load the add-on: " + error;
    for (const auto& [field, value] : o.fields)
        if (!subhost::setField(field, value, &error)) return "--set " + field + "=" + value + ": " + error;
    if (!subhost::setField("StampMode", o.mode, &error)) return error;
    if (o.keepElements && !subhost::setField("StampDelete", "0", &error)) return error;
    subhost::setDefaultAnswer(o.answer);
    return {};
}

// The attachments to stamp, by their full paths (the one --raster names, or all).
std::vector<std::string> stampTargets(const StampOptions& o, std::string* problem) {
    std::vector<std::string> paths;
    std::error_code ec;
    const fs::path wanted = o.raster.empty() ? fs::path() : fs::weakly_canonical(o.raster, ec);
    for (const auto& raster : subhost::raster::rasterState().rasters) {
        if (!raster->attached) continue;
        if (!o.raster.empty() && fs::weakly_canonical(raster->path, ec) != wanted) continue;
        paths.push_back(raster->path);
    }
    if (paths.empty())
        *problem =
            o.raster.empty() ? "the design has no raster attachment" : o.raster + " is not attached to the design";
    return paths;
}

const DgnRaster* attachmentOf(const std::string& path) {
    for (const auto& raster : subhost::raster::rasterState().rasters)
        if (raster->attached && raster->path == path) return raster.get();
    return nullptr;
}

// One stamp on the attachment of path; what to print after the file's name.
struct StampLine {
    bool failed = false;
    std::string text;
};

StampLine stampOne(const std::string& path) {
    const std::size_t start = subhost::transcript().size();
    std::string error;
    const DgnRaster* raster = attachmentOf(path);
    if (!raster) return {true, "FAILED: no longer attached"};
    if (!subhost::keyin("PXMEND STAMP", &error)) return {true, "FAILED: " + error};
    // In fence mode the fence is the area: the first data point accepts it; otherwise it picks the raster.
    subhost::dataPoint(rasterCentre(*raster), 0);
    const std::string failure = reportedFailure(start);
    const std::size_t end = subhost::transcript().size();
    subhost::resetButton();  // a stamp still waiting for a point (declined, empty) ends here
    if (!failure.empty()) {
        // The empty-set messages are what happened to this raster, not failures.
        if (failure.find("no elements") != std::string::npos || failure.find("outside raster") != std::string::npos)
            return {false, "unchanged (" + failure + ")"};
        return {true, "FAILED: " + failure};
    }
    const std::string declined = declinedQuestion(start, end);
    if (!declined.empty()) return {false, "unchanged (answered no to \"" + declined + "\")"};
    return {false, "done"};
}

}  // namespace

int runStamp(Args args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kStampHelp << "\n";
        return 0;
    }
    StampOptions o;
    if (auto problem = parseStamp(args, o)) return stampUsage(*problem);
    int code = 0;
    try {
        if (std::string error = prepare(o); !error.empty()) {
            std::cerr << "pixelmend: stamp: " << o.design << ": " << error << "\n";
            subhost::hostReset();
            return 2;
        }
        std::string problem;
        const std::vector<std::string> targets = stampTargets(o, &problem);
        if (targets.empty()) {
            std::cerr << "pixelmend: stamp: " << o.design << ": " << problem << "\n";
            subhost::hostReset();
            return 2;
        }
        for (const std::string& path : targets) {
            const StampLine line = stampOne(path);
            std::cout << "stamp " << path << ": " << line.text << "\n";
            if (line.failed) code = 1;
        }
        std::string error;
        subhost::setDefaultAnswer(std::nullopt);
        if (!subhost::saveDesign(&error)) {
            std::cout << "stamp " << o.design << ": FAILED: " << error << "\n";
            code = 1;
        }
        subhost::closeDesign();
        unloadWithoutSaving();
    } catch (const subhost::SessionStop& stop) {
        std::cout << "stamp " << o.design << ": FAILED: " << stopReason(stop) << "\n";
        subhost::discardRasterChanges();
        code = 1;
    }
    subhost::setTranscriptStream(nullptr);
    subhost::hostReset();
    return code;
}

}  // namespace pixelmend
