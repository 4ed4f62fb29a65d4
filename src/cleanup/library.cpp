// The imaging-library slot of the clean-up commands.
#include "cleanup/library.h"

#include <algorithm>

#include "edit/block.h"
#include "host/winapi.h"
#include "raster/clip.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"

namespace {

// The one slot: the module, the handle of its init entry and which library it is.
struct LibrarySlot {
    HMODULE module = nullptr;
    std::int64_t handle = 0;
    CleanupLibrary library = CleanupLibrary::None;
};

LibrarySlot g_slot;

// What identifies each library: its file and its init and done entries.
struct LibraryNames {
    const char* file;
    const char* init;
    const char* done;
};

LibraryNames namesOf(CleanupLibrary library) {
    if (library == CleanupLibrary::Deskew) return {"RECODESKEW.DLL", "DESKEW_Init", "DESKEW_Done"};
    return {"RECODESPECKLE.DLL", "DESPECKLE_Init", "DESPECKLE_Done"};
}

using InitEntry = std::int64_t (*)(const char*, const char*);
using DoneEntry = void (*)(std::int64_t);

// The texts handed to an init entry: who calls, and the caller's version.
constexpr const char* k_initCaller = "PixelMend";
constexpr const char* k_initVersion = "1";

}  // namespace

int j_cleanupLibraryLoad(CleanupLibrary library) {
    if (library == CleanupLibrary::None) return -1;
    if (g_slot.library == library) return 0;
    v_cleanupLibraryRelease();
    const LibraryNames names = namesOf(library);
    HMODULE module = LoadLibraryA(names.file);
    if (!module) return -1;
    auto init = reinterpret_cast<InitEntry>(GetProcAddress(module, names.init));
    if (!init) {
        FreeLibrary(module);
        return -1;
    }
    g_slot = LibrarySlot{module, 0, library};
    g_slot.handle = init(k_initCaller, k_initVersion);
    return 0;
}

CleanupLibrary cleanupLibraryLoaded() { return g_slot.library; }

std::int64_t n_cleanupLibraryHandle() { return g_slot.handle; }

void* pv_cleanupLibraryEntry(const char* name) {
    if (!g_slot.module || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(g_slot.module, name));
}

void v_cleanupLibraryRelease() {
    if (!g_slot.module) return;
    if (g_slot.handle != 0)
        if (auto done = fn_cleanupEntry<DoneEntry>(namesOf(g_slot.library).done)) done(g_slot.handle);
    FreeLibrary(g_slot.module);
    g_slot = LibrarySlot{};
}

const std::uint8_t* pc_cleanupPalette(const RasterTarget* target, const PixelFormat& format) {
    if (target->hasPalette) return &target->palette[0][0];
    if (format.paletteCount >= 1) return &format.palette[0][0];
    return nullptr;
}

bool b_cleanupWholeRead(WholeRaster& raster) {
    RasterTarget* target = currentTarget();
    if (!target) return false;
    v_promptShow(rid::PROMPT_WORKING);
    raster.format.colorMode = target->transferColorMode;
    raster.block = target->wholeBlock;
    int status = 0;
    {
        NeutralRendering neutral;
        status = j_bitmapRead(raster.buffer.slot(), &raster.format, &raster.block, &raster.size);
    }
    raster.bytes = std::size_t(std::max(j_bitmapBytes(&raster.size), 0));
    raster.palette = pc_cleanupPalette(target, raster.format);
    return status == SUCCESS && raster.buffer && raster.bytes > 0;
}
