// pixelmend render: draws a view of a design into a PNG picture, as the host
// shows it: the raster attachments with their rendering colours and clip masks,
// then the design's elements.
#include <charconv>
#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "subhost/host.h"

namespace pixelmend {
namespace {

namespace fs = std::filesystem;

const char* const kRenderHelp =
    "usage: pixelmend render DESIGN [--view N] [--size WxH] -o OUT.png\n"
    "  Draws what a view of the design shows into a PNG picture: its raster attachments in\n"
    "  attachment order (the last on top), in their rendering colours, with clip masks and\n"
    "  boundaries applied, then its elements in file order, on a black background. Element weights\n"
    "  and line styles are drawn with the pen widths and dash lengths (in picture pixels) of the\n"
    "  settings file ($XDG_CONFIG_HOME/pixelmend/Pxmend.ini, else ~/.config/pixelmend/Pxmend.ini).\n"
    "  --view N     the view to draw, counted from 0 as in session scripts (default 0); a view\n"
    "               without an extent, or a design without views, shows the whole design\n"
    "  --size WxH   the picture's size in pixels (default: the view's proportions, 1024 pixels on\n"
    "               the longer side); other proportions than the view's show more around its centre\n"
    "  -o OUT.png   the picture to write (written through a temporary file)\n"
    "Exit code 0 when the picture was written, 1 when the design or view cannot be drawn or the\n"
    "picture cannot be written (reason on stderr), 2 for a usage error.";

// What the command line asks for.
struct RenderRequest {
    std::string design;
    std::string output;
    int view = 0;
    int width = 0;  // 0 x 0: the view's own proportions
    int height = 0;
};

// A whole number of text within [low, high]; nullopt when it is not one.
std::optional<int> wholeNumber(const std::string& text, int low, int high) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

// Reads the arguments into *request; an empty text when they are good, else what is wrong.
std::string renderArgsParse(Args args, RenderRequest* request) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--view" || a == "--size" || a == "-o") {
            if (!hasValue) return a + " needs a value";
            const std::string& value = args[++i];
            if (a == "--view") {
                const auto n = wholeNumber(value, 0, 7);
                if (!n) return "--view takes a view number 0 to 7 (views count from 0, as in session scripts)";
                request->view = *n;
            } else if (a == "--size") {
                const std::size_t x = value.find('x');
                const auto w = x == std::string::npos ? std::nullopt
                                                      : wholeNumber(value.substr(0, x), 1, subhost::kMaxPictureSide);
                const auto h = x == std::string::npos ? std::nullopt
                                                      : wholeNumber(value.substr(x + 1), 1, subhost::kMaxPictureSide);
                if (!w || !h)
                    return "--size takes WIDTHxHEIGHT in pixels, 1 to " + std::to_string(subhost::kMaxPictureSide) +
                           " each";
                request->width = *w;
                request->height = *h;
            } else {
                request->output = value;
            }
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (request->design.empty()) {
            request->design = a;
        } else {
            return "render takes one DESIGN";
        }
    }
    if (request->design.empty()) return "render needs a DESIGN";
    if (request->output.empty()) return "render needs -o OUT.png";
    if (fs::path(request->output).extension() != ".png") return "the picture is written as PNG: OUT must end in .png";
    return {};
}

}  // namespace

int runRender(Args args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kRenderHelp << "\n";
        return 0;
    }
    RenderRequest request;
    const std::string problem = renderArgsParse(args, &request);
    if (!problem.empty()) {
        std::cerr << "pixelmend: " << problem << "\n" << kRenderHelp << "\n";
        return 2;
    }

    subhost::hostReset();
    subhost::setTranscriptStream(nullptr);
    std::string error;
    if (!subhost::openDesign(request.design, &error)) {
        std::cerr << "pixelmend render: " << error << "\n";
        return 1;
    }
    // Rasters the host refused to attach are left out of the picture; say which and why.
    for (const auto& event : subhost::transcript())
        if (event.value("event", "") == "rasterRefused")
            std::cerr << "pixelmend render: raster " << event.value("file", "")
                      << " not shown: " << event.value("reason", "") << "\n";
    std::vector<std::string> notes;
    int width = 0, height = 0;
    const bool written = subhost::renderViewToPng(request.output, request.view, request.width, request.height, &notes,
                                                  &error, &width, &height);
    subhost::closeDesign();
    for (const std::string& note : notes) std::cerr << "pixelmend render: " << note << "\n";
    if (!written) {
        std::cerr << "pixelmend render: " << request.design << ": " << error << "\n";
        return 1;
    }
    std::cout << request.output << " (" << width << " x " << height << ", view " << request.view << ")\n";
    return 0;
}

}  // namespace pixelmend
