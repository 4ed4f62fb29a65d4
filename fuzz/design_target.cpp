// Design files: opened from a file and as a document beside the scratch rasters, then drawn.
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_targets.h"
#include "subhost/host.h"

namespace pxfuzz::design {

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path folder = freshScratch();
    const std::filesystem::path path = folder / "case.json";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    subhost::hostReset();
    std::string error;
    subhost::ViewPicture picture;
    if (subhost::openDesign(path.string(), &error)) subhost::renderView(0, 48, 36, &picture, &error);
    if (error.find("json.exception") != std::string::npos)
        throw std::logic_error("the JSON library's own words reached the user: " + error);
    checkTranscriptWords();
    subhost::closeDesign();
    // The same text handed over as a document skips the file reader's own checks (depth, size).
    // Its nesting is held to what a design file may have, as a caller building documents does.
    bool tooDeep = false;
    const nlohmann::json::parser_callback_t limitDepth = [&tooDeep](int depth, nlohmann::json::parse_event_t,
                                                                    nlohmann::json&) {
        if (depth > 64) tooDeep = true;
        return !tooDeep;
    };
    const nlohmann::json doc = nlohmann::json::parse(data, data + size, limitDepth, false);
    if (!tooDeep && !doc.is_discarded() && subhost::openDesignDocument(doc, folder.string(), &error))
        subhost::renderView(0, 40, 40, &picture, &error);
    checkTranscriptWords();
    subhost::hostReset();
    return 0;
}

}  // namespace pxfuzz::design
