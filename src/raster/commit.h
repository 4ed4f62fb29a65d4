// The commit path: the one backup per file, derived file names, and (with the
// block edits) committing buffers as new raster files.
#pragma once

#include <cstdint>
#include "host/mdldialog.h"

#include "host/mdlraster.h"

// Backs up path once (closing and re-opening the current raster's file when closeReopen);
// 0 when a backup was made, ERROR when none was needed or allowed, else the copy or re-open
// status (a failed copy or re-open is also said in the message centre as an error).
int j_rasterBackup(bool closeReopen, const char* path, char* backupPath);
// A derived name "<stem>-<suffix>[n]<ext>" beside path that does not exist yet, into name (256 bytes).
void v_uniqueFileName(char* name, const char* path, const char* suffix);
// Destroys the backup list (at unload).
void v_backupListFree();
// Records path as a file the add-on created, so that it is never backed up.
void v_createdFileRecord(const char* path);
// Sets the function called with (new file, path) once a file that is to replace path is complete on
// disk and just before it is renamed over path (null: none). Tests stop the process there to check
// that path holds a whole file at every moment.
void v_commitReplaceHookSet(void (*beforeReplace)(const char* replacement, const char* path));
// Forgets the backup list without destroying it (the host that held it has been reset) and the hook.
void v_commitReset();
// Converts raster's file in place to colorMode (24-bit RGB), keeping the original under a backup
// name first; the export status, or the copy status when the original could not be kept (the file
// is then left as it was; the user is told).
int j_rasterConvert(DgnRasterP raster, int colorMode);
// Asks for an output raster file, proposing name (256 bytes, changed in place); 0 chosen, ERROR cancelled.
int j_outputRasterAsk(char* name);
// Saves a buffer of the current target's depth as a new file; the image library's status, ERROR for
// other depths or without a current target.
int j_bitmapSaveFile(const char* name, int fileFormat, const std::uint8_t* bytes, const BitmapSize* size);
// Commits a buffer of the current target's layout as a raster file attached at origin (scale: null or x, y),
// beside the source (keepSource) or in its place; the new attachment, or null when the user cancelled or it
// failed (failures are reported). The edit context is left as it was.
DgnRasterP pv_rasterCommitFile(std::uint8_t* bytes, const BitmapSize* size, const DPoint3d* origin, const double* scale,
                               const char* outputName, const char* suffix, bool keepSource, bool askOutput,
                               bool detachSource);
// Re-opens *raster on path (read-only or not), keeping its georeference and rendering; 0, or ERROR.
int j_rasterReopen(DgnRasterP* raster, const char* path, bool readOnly);
