// The one imaging-library slot that deskew and despeckle share: which library is loaded, its
// module and the handle its init entry gave, and its entries found by name at each call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/bitmap.h"

// The imaging libraries the clean-up commands load.
enum class CleanupLibrary { None, Deskew, Despeckle };

// Loads library into the slot unless it holds it already (another library there is released
// first) and calls its init entry; 0 loaded, -1 when the library or its init entry is missing.
int j_cleanupLibraryLoad(CleanupLibrary library);
// The library the slot holds (None when empty).
CleanupLibrary cleanupLibraryLoaded();
// The handle the loaded library's init entry gave (0 when none).
std::int64_t n_cleanupLibraryHandle();
// The loaded library's entry called name, or null when the slot is empty or the library lacks it.
void* pv_cleanupLibraryEntry(const char* name);
// Gives the slot back: the done entry of the library in it (when its handle is not 0), then the
// module; nothing when it is empty.
void v_cleanupLibraryRelease();

// The entry name as the typed function pointer Fn, or null.
template <class Fn>
Fn fn_cleanupEntry(const char* name) {
    return reinterpret_cast<Fn>(pv_cleanupLibraryEntry(name));
}

// The palette handed to a library with a buffer of the target: the target's, else the one the read
// returned in format, else none.
const std::uint8_t* pc_cleanupPalette(const RasterTarget* target, const PixelFormat& format);

// The current target's whole raster, read once for a library: buffer, size, read format, block, the
// palette for the exchange and the buffer's length.
struct WholeRaster {
    PixelBuffer buffer;
    BitmapSize size{};
    PixelFormat format{};
    PixelBlock block{};
    const std::uint8_t* palette = nullptr;
    std::size_t bytes = 0;
};

// Reads the current target's whole raster under the neutral rendering and shows the working prompt;
// false without a target or when the read failed (reported).
bool b_cleanupWholeRead(WholeRaster& raster);
