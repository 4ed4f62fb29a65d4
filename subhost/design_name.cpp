// The design file's full name as the application asks for it.
#include <filesystem>

#include "host/mdlsystem.h"
#include "subhost/state.h"

extern "C" {

int mdlModelRef_getFileName(DgnModelRefP /*model*/, WCharP name, int size) {
    using namespace subhost;
    const DesignState& design = host().design;
    if (!design.open || !name || size < 1) return hostFail(HOSTERR_BadArgument);
    std::filesystem::path full(design.name);
    if (full.is_relative() && !design.path.empty()) full = std::filesystem::path(design.path).parent_path() / full;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(full, ec);
    copyWide(name, size, widen((ec ? full : absolute).lexically_normal().string()));
    return SUCCESS;
}

}  // extern "C"
