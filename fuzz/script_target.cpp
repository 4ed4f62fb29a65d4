// Session scripts: run with the add-on linked in, in the scratch folder beside a tiny
// design and its rasters.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "frame/app.h"
#include "fuzz/fuzz_targets.h"
#include "host/mdlresource.h"
#include "subhost/host.h"

namespace pxfuzz::script {
namespace {

// A script that names a path outside the scratch folder (a slash, a backslash or a
// parent folder) is not run: a mutated `save` or `cfg` line would otherwise write
// wherever it points. What such lines do with names inside the folder is run as usual.
bool staysInFolder(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    return text.find('/') == std::string_view::npos && text.find('\\') == std::string_view::npos &&
           text.find("..") == std::string_view::npos && text.find('~') == std::string_view::npos &&
           text.find('$') == std::string_view::npos;
}

}  // namespace

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    if (!staysInFolder(data, size)) return 0;
    const std::filesystem::path script = std::filesystem::path(freshScratch()) / "case.session";
    {
        std::ofstream out(script, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    subhost::hostReset();
    subhost::SessionOptions options;
    options.defaultAnswer = 6;  // yes: questions lead on into the edits rather than stopping the case
    options.linkedMain = &MdlMain;
    options.linkedResources = &MdlResources;
    std::ostringstream out, err;
    subhost::runSession(script.string(), options, out, err);
    const std::string said = out.str();
    if (said.find("json.exception") != std::string::npos)
        throw std::logic_error("the JSON library's own words reached the user: " +
                               said.substr(said.find("json.exception")));
    subhost::hostReset();
    return 0;
}

}  // namespace pxfuzz::script
