// The commit path: the one backup per file, derived file names, and (with the
// block edits) committing buffers as new raster files.
#pragma once

#include "host/mdldialog.h"
#include "host/mdlraster.h"

// Module state: pairs of (source path, backup path); equal paths mark files the add-on created.
struct CommitState {
    StringList* backupList = nullptr;
};

extern CommitState g_commit;

// Backs up path once (closing and re-opening the current raster's file when closeReopen);
// 0 when a backup was made, 32768 when none was needed or allowed, else the copy status.
int j_rasterBackup(bool closeReopen, const char* path, char* backupPath);
// A derived name "<stem>-<suffix>[n]<ext>" beside path that does not exist yet, into name (256 bytes).
void v_uniqueFileName(char* name, const char* path, const char* suffix);
// Destroys the backup list (at unload).
void v_backupListFree();
// Converts raster's file in place to colorMode (24-bit RGB); the export status.
int j_rasterConvert(DgnRaster* raster, int colorMode);
