// The subcommands of the pixelmend command, one source file each.
#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace pixelmend {

using Args = std::span<const std::string>;

// The folder of this executable (where the add-on and libraries are built).
std::filesystem::path exeFolder();
// The add-on module: env PIXELMEND_APP, else pxmend.so beside the executable.
std::string defaultApp();
// Prints "pixelmend: message" and the help hint on stderr; gives exit code 2.
int usageError(const std::string& message);

// `render DESIGN [--view N] [--size WxH] -o OUT.png`: draws a view of a design into a PNG.
int runRender(Args args);
// `delete|crop|copy|move FILE... [options]`: runs one block command on raster files without a design.
int runBatch(const std::string& command, Args args);
// `info FILE...`: prints what the host knows of raster files.
int runInfo(Args args);
// `import-dxf DRAWING.dxf -o DESIGN.json`: writes a design description of a DXF drawing's entities.
int runImportDxf(Args args);

}  // namespace pixelmend
