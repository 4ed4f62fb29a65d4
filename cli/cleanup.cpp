// pixelmend deskew|despeckle: the add-on's clean-up commands run on whole folders of scans.
//
// The options of these two commands become settings of the add-on for the run, and the run itself is
// the batch run of the block commands (batch.cpp): each file attached to a design of its own, the
// command keyed in and fed the data points a user would give, the design closed to write it back.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "subhost/host.h"

namespace pixelmend {
namespace {

const char* kDeskewHelp =
    "usage: pixelmend deskew FILE... [--angle DEG] [--corner N] [options]\n"
    "  Straightens each scan: the skew angle is detected (or --angle DEG is used, between -10 and 10;\n"
    "  positive for a page whose lines rise to the right), the file is turned back and written in place\n"
    "  (with its backup when backups are on). The angle is printed per file; a file that needs no\n"
    "  correction is reported and left unchanged.\n"
    "  --corner N            0 lower left (default), 1 lower right, 2 upper left, 3 upper right:\n"
    "                        the corner the angle is measured from\n"
    "  --yes | --no, --settings FILE, --set FIELD=VALUE, --app PATH, --verbose as for delete;\n"
    "  folders and the run options too (--recursive, --files-from, --jobs, --journal, --shard,\n"
    "  --max-memory, --report, --dry-run, --quiet: see pixelmend delete --help).\n"
    "Exit code 0 when no file failed, 1 when any file failed, 2 for a usage error, 130 when stopped\n"
    "by Ctrl-C.";

const char* kDespeckleHelp =
    "usage: pixelmend despeckle FILE... [--size XxY] [--block X,Y,W,H] [options]\n"
    "  Removes speckles (groups of ink pixels at most X across and Y down, default 1x1) from each\n"
    "  monochrome scan, in the whole image or inside --block (x, y down from the top-left pixel, width,\n"
    "  height). The count is printed per file; removing them is a question: answer it with --yes.\n"
    "  --yes | --no, --settings FILE, --set FIELD=VALUE, --app PATH, --verbose as for delete;\n"
    "  folders and the run options too (--recursive, --files-from, --jobs, --journal, --shard,\n"
    "  --max-memory, --report, --dry-run, --quiet: see pixelmend delete --help).\n"
    "Exit code 0 when no file failed, 1 when any file failed, 2 for a usage error, 130 when stopped\n"
    "by Ctrl-C.";

int cleanupUsage(const char* help, const std::string& message) {
    std::cerr << "pixelmend: " << message << "\n" << help << "\n";
    return 2;
}

// text as a finite number within [low, high]; nullopt otherwise.
std::optional<double> number(const std::string& text, double low, double high) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != 0 || errno == ERANGE || !std::isfinite(v) || v < low || v > high) return std::nullopt;
    return v;
}

// A whole number within [low, high]; nullopt otherwise.
std::optional<long> whole(const std::string& text, long low, long high) {
    const auto v = number(text, double(low), double(high));
    if (!v || *v != std::floor(*v)) return std::nullopt;
    return long(*v);
}

// The batch's arguments with the clean-up options turned into settings.
struct Translation {
    std::vector<std::string> args;
    std::vector<std::string> settings;  // FIELD=VALUE, set after the user's --set ones
    bool block = false;
};

// Moves every argument but the clean-up options (handled by take) into out.args; the error message.
template <class Take>
std::optional<std::string> translate(Args args, Translation& out, Take take) {
    bool filesOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") filesOnly = true;
        const bool option = !filesOnly && !a.empty() && a[0] == '-';
        const std::optional<std::string> value = i + 1 < args.size() ? std::optional(args[i + 1]) : std::nullopt;
        int used = 0;
        if (option) {
            if (auto problem = take(a, value, out, &used)) return problem;
        }
        if (used == 0) {
            out.args.push_back(a);
            continue;
        }
        i += std::size_t(used - 1);
    }
    for (const std::string& s : out.settings) {
        out.args.push_back("--set");
        out.args.push_back(s);
    }
    return std::nullopt;
}

std::optional<std::string> takeDeskewOption(const std::string& a, const std::optional<std::string>& value,
                                            Translation& out, int* used) {
    if (a == "--angle") {
        const auto v = value ? number(*value, -10.0, 10.0) : std::nullopt;
        if (!v) return "--angle takes DEG: a number of degrees between -10 and 10";
        char text[64];
        std::snprintf(text, sizeof text, "DeskewAngle=%.17g", *v);
        out.settings.push_back("DeskewMode=2");
        out.settings.push_back(text);
        *used = 2;
    } else if (a == "--corner") {
        const auto v = value ? whole(*value, 0, 3) : std::nullopt;
        if (!v) return "--corner takes N: 0, 1, 2 or 3";
        out.settings.push_back("DeskewCorner=" + std::to_string(*v));
        *used = 2;
    }
    return std::nullopt;
}

std::optional<std::string> takeDespeckleOption(const std::string& a, const std::optional<std::string>& value,
                                               Translation& out, int* used) {
    if (a == "--size") {
        const std::size_t x = value ? value->find('x') : std::string::npos;
        const auto across = x != std::string::npos ? whole(value->substr(0, x), 1, 100000) : std::nullopt;
        const auto down = x != std::string::npos ? whole(value->substr(x + 1), 1, 100000) : std::nullopt;
        if (!across || !down) return "--size takes XxY: whole numbers of pixels from 1 to 100000, e.g. 3x3";
        out.settings.push_back("DespeckleX=" + std::to_string(*across));
        out.settings.push_back("DespeckleY=" + std::to_string(*down));
        *used = 2;
    } else if (a == "--block") {
        out.block = true;  // the batch reads the block itself
    }
    return std::nullopt;
}

// Messages shown in the transcript from index from on.
std::vector<std::string> shownTexts(std::size_t from) {
    std::vector<std::string> texts;
    const auto& events = subhost::transcript();
    for (std::size_t i = from; i < events.size(); ++i)
        if (events[i].value("event", "") == "messageBox") texts.push_back(events[i].value("text", ""));
    return texts;
}

// The imaging library the run could not load, as a note; empty when none was refused.
std::string libraryRefusal(std::size_t from) {
    const auto& events = subhost::transcript();
    for (std::size_t i = from; i < events.size(); ++i)
        if (events[i].value("event", "") == "libraryRefused")
            return "imaging library " + events[i].value("name", "") + " not loaded: " + events[i].value("reason", "");
    return {};
}

}  // namespace

std::string deskewReport(std::size_t fromEvent) {
    if (std::string refused = libraryRefusal(fromEvent); !refused.empty()) return refused;
    for (const std::string& text : shownTexts(fromEvent))
        if (text.find("does not need to be deskewed") != std::string::npos) return "needs no correction";
    const nlohmann::json settings = subhost::dumpSettings();
    const double angle = settings["fields"].value("DeskewAngle", 0.0);
    char text[64];
    std::snprintf(text, sizeof text, "angle %.2f degrees", angle);
    return text;
}

std::string despeckleReport(std::size_t fromEvent) {
    if (std::string refused = libraryRefusal(fromEvent); !refused.empty()) return refused;
    const std::string found = "PixelMend has found ";
    for (const std::string& text : shownTexts(fromEvent)) {
        if (text.rfind("PixelMend found no pixels to despeckle", 0) == 0) return "no speckles found";
        if (text.rfind(found, 0) == 0) {
            const std::size_t end = text.find(" speckle", found.size());
            const std::string count = text.substr(found.size(), end - found.size());
            return count + (count == "1" ? " speckle" : " speckles") + " found";
        }
    }
    return {};
}

int runDeskew(Args args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kDeskewHelp << "\n";
        return 0;
    }
    Translation t;
    t.settings = {"DeskewMode=0"};
    if (auto problem = translate(args, t, takeDeskewOption)) return cleanupUsage(kDeskewHelp, *problem);
    return runBatch("deskew", t.args);
}

int runDespeckle(Args args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kDespeckleHelp << "\n";
        return 0;
    }
    Translation t;
    if (auto problem = translate(args, t, takeDespeckleOption)) return cleanupUsage(kDespeckleHelp, *problem);
    t.args.push_back("--set");
    t.args.push_back(t.block ? "DespeckleMode=1" : "DespeckleMode=5");
    return runBatch("despeckle", t.args);
}

}  // namespace pixelmend
