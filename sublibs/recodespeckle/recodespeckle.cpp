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
struct BoxDeleter {
    void operator()(BOX* box) const { boxDestroy(&box); }
};

std::int32_t refused(std::int64_t session, std::string why) {
    state().sessions.refuse(session, std::move(why));
    return recode::kSpeckleRefused;
}

// Whether box lies within across x down.
bool small(BOX* box, int across, int down) {
    l_int32 x = 0, y = 0, w = 0, h = 0;
    boxGetGeometry(box, &x, &y, &w, &h);
    return w <= across && h <= down;
}

// Clears from pix the 8-connected component whose bounding box is box. Within the box the component is
// the one piece spanning the whole box: any other piece spanning it too would cross it, and crossing
// pieces touch. False without memory.
bool clearComponent(PIX* pix, BOX* box) {
    l_int32 x = 0, y = 0, w = 0, h = 0;
    boxGetGeometry(box, &x, &y, &w, &h);
    PixPtr clip(pixClipRectangle(pix, box, nullptr));
    if (!clip) return false;
    PIXA* found = nullptr;
    std::unique_ptr<BOXA, BoxaDeleter> pieces(pixConnComp(clip.get(), &found, 8));
    std::unique_ptr<PIXA, PixaDeleter> images(found);
    if (!pieces || !images) return false;
    for (l_int32 i = 0; i < boxaGetCount(pieces.get()); ++i) {
        l_int32 px = 0, py = 0, pw = 0, ph = 0;
        boxaGetBoxGeometry(pieces.get(), i, &px, &py, &pw, &ph);
        if (pw != w || ph != h) continue;
        PixPtr piece(pixaGetPix(images.get(), i, L_CLONE));
        return piece && pixRasterop(pix, x, y, w, h, PIX_DST & PIX_NOT(PIX_SRC), piece.get(), 0, 0) == 0;
    }
    return true;
}

// Removes the speckles of dib in place; their number, or the refusal (recorded for session). Only the
// bounding boxes of the whole image's components are kept; each speckle is then cut out of its own box.
std::int32_t removeSpeckles(std::int64_t session, const LockedDib& dib, int across, int down) {
    // Black is bit value 0: inverted, the speckles are Leptonica's foreground.
    PixPtr pix = dibpix::pixFromDib(dib);
    if (!pix || !pixInvert(pix.get(), pix.get())) return refused(session, "out of memory");
    pixSetPadBits(pix.get(), 0);
    std::unique_ptr<BOXA, BoxaDeleter> boxes(pixConnCompBB(pix.get(), 8));
    if (!boxes) return refused(session, "out of memory");
    std::int32_t count = 0;
    for (l_int32 i = 0; i < boxaGetCount(boxes.get()); ++i) {
        std::unique_ptr<BOX, BoxDeleter> box(boxaGetBox(boxes.get(), i, L_CLONE));
        if (!box || !small(box.get(), across, down)) continue;
        if (!clearComponent(pix.get(), box.get())) return refused(session, "out of memory");
        ++count;
    }
    if (count == 0) return 0;
    // Removed from the inverted image, the speckles come back as white (bit value 1).
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
