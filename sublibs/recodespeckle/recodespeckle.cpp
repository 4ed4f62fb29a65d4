// recodespeckle: counts and removes the speckles of a 1-bit scan handed over as a packed DIB, with
// Leptonica's connected components. A speckle is an 8-connected group of black (colour-table index
// 0, bit value 0) pixels whose bounding box is at most `across` pixels wide and `down` pixels high.
#include <algorithm>
#include <cstdint>
#include <string>

#include "dibpix/dibpix.h"
#include "recodelibs.h"

namespace {

using dibpix::LockedDib;
using dibpix::PixPtr;

// The module's state: the open sessions.
struct DespeckleState {
    dibpix::Sessions sessions;
};

DespeckleState& state() {
    static DespeckleState s;
    return s;
}

struct PixaDeleter {
    void operator()(PIXA* pixa) const { pixaDestroy(&pixa); }
};
struct BoxaDeleter {
    void operator()(BOXA* boxa) const { boxaDestroy(&boxa); }
};

std::int32_t refused(std::int64_t session, std::string why) {
    state().sessions.refuse(session, std::move(why));
    return recode::kSpeckleRefused;
}

// Removes the speckles of dib in place; their number, or the refusal (recorded for session).
std::int32_t removeSpeckles(std::int64_t session, const LockedDib& dib, int across, int down) {
    // Black is bit value 0: inverted, the speckles are Leptonica's foreground.
    PixPtr pix = dibpix::pixFromDib(dib);
    if (!pix || !pixInvert(pix.get(), pix.get())) return refused(session, "out of memory");
    pixSetPadBits(pix.get(), 0);
    PIXA* found = nullptr;
    std::unique_ptr<BOXA, BoxaDeleter> boxes(pixConnComp(pix.get(), &found, 8));
    std::unique_ptr<PIXA, PixaDeleter> components(found);
    if (!boxes || !components) return refused(session, "out of memory");
    std::unique_ptr<PIXA, PixaDeleter> speckles(
        pixaSelectBySize(components.get(), across, down, L_SELECT_IF_BOTH, L_SELECT_IF_LTE, nullptr));
    if (!speckles) return refused(session, "out of memory");
    const l_int32 count = pixaGetCount(speckles.get());
    if (count == 0) return 0;
    PixPtr speckled(pixaDisplay(speckles.get(), dib.width, dib.height));
    if (!speckled) return refused(session, "out of memory");
    // Removed from the inverted image, the speckles come back as white (bit value 1).
    pixSubtract(pix.get(), pix.get(), speckled.get());
    pixInvert(pix.get(), pix.get());
    dibpix::pixToDib(pix.get(), dib);
    return count;
}

}  // namespace

#define RECODE_ENTRY extern "C" __attribute__((visibility("default")))

// Takes two texts (not used), gives a new session's handle.
RECODE_ENTRY std::int64_t DESPECKLE_Init(const char*, const char*) {
    dibpix::silenceLeptonica();
    return state().sessions.open();
}

// Takes a session, a packed 1-bit DIB and the largest speckle size across and down in pixels; removes
// the speckles in place and gives their number, -3 when the input is refused.
RECODE_ENTRY std::int32_t DESPECKLE_RemovePoints(std::int64_t session, HGLOBAL dib, std::int64_t across,
                                                 std::int64_t down) {
    if (!state().sessions.known(session)) return refused(session, "unknown session handle");
    state().sessions.clear(session);
    if (across < 1 || down < 1) return refused(session, "the speckle size must be at least 1 x 1 pixels");
    LockedDib locked;
    std::string why;
    if (!locked.open(dib, &why)) return refused(session, why);
    if (locked.depth != 1)
        return refused(
            session, "speckles are removed from 1-bit bitmaps only, not " + std::to_string(locked.depth) + "-bit ones");
    // Sizes beyond the image are the whole image.
    const int x = int(std::min<std::int64_t>(across, locked.width));
    const int y = int(std::min<std::int64_t>(down, locked.height));
    return removeSpeckles(session, locked, x, y);
}

// Takes a session; ends it. 0, or -1 for an unknown handle.
RECODE_ENTRY std::int64_t DESPECKLE_Done(std::int64_t session) { return state().sessions.close(session) ? 0 : -1; }

// Takes a session; gives the reason of its last refusal ("" when its last call went through).
RECODE_ENTRY const char* DESPECKLE_LastError(std::int64_t session) { return state().sessions.lastError(session); }

// The entries have the types the add-on calls them by.
static_assert(std::is_same_v<decltype(&DESPECKLE_Init), recode::DespeckleInit>);
static_assert(std::is_same_v<decltype(&DESPECKLE_RemovePoints), recode::DespeckleRemovePoints>);
static_assert(std::is_same_v<decltype(&DESPECKLE_Done), recode::DespeckleDone>);
static_assert(std::is_same_v<decltype(&DESPECKLE_LastError), recode::DespeckleLastError>);
