// The subcommands of the pixelmend command, one source file each.
#pragma once

#include <cstddef>
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
// `deskew FILE... [--angle DEG] [--corner N] [options]`: straightens scans (the angle printed per file).
int runDeskew(Args args);
// `despeckle FILE... [--size XxY] [--block X,Y,W,H] [options]`: removes speckles (the count printed per file).
int runDespeckle(Args args);
// What a deskew run found (its angle, no correction needed, or a library not loaded), from transcript index on.
std::string deskewReport(std::size_t fromEvent);
// What a despeckle run found (the count of speckles, or a library not loaded), from transcript index on.
std::string despeckleReport(std::size_t fromEvent);
// `info FILE...`: prints what the host knows of raster files.
int runInfo(Args args);
// `stamp DESIGN.json [options]`: burns a design's elements into its raster attachments.
int runStamp(Args args);
// `import-dxf DRAWING.dxf -o DESIGN.json`: writes a design description of a DXF drawing's entities.
int runImportDxf(Args args);

}  // namespace pixelmend
