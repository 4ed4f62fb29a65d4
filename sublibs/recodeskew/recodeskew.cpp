// recodeskew: finds and corrects the skew of a scanned page handed over as a packed DIB, with
// Leptonica. Angles are in degrees, positive for a page whose lines rise to the right (turned
// counter-clockwise as displayed); a correction by a positive angle turns the page clockwise.
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "dibpix/dibpix.h"
#include "recodelibs.h"

namespace {

using dibpix::LockedDib;
using dibpix::PixPtr;

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;
// The sweep goes this much beyond the largest angle asked for: Leptonica's confidence falls to
// nothing within one sweep step of the range's edge.
constexpr double kSweepMargin = 2.0;
constexpr float kSweepStep = 1.0f;      // degrees between sweep angles
constexpr float kSearchEnd = 0.01f;     // degrees: the binary search's last step
constexpr float kMinConfidence = 3.0f;  // Leptonica's own threshold for a skew worth correcting
constexpr double kMostAngle = 45.0;     // beyond this a turn is not a skew
constexpr int kSmallestMeasured = 16;   // pixels across and down an image must have to be measured

// The module's state: the open sessions.
struct DeskewState {
    dibpix::Sessions sessions;
};

DeskewState& state() {
    static DeskewState s;
    return s;
}

// Refuses the call with why; gives the refusal's result.
template <typename Result>
Result refused(std::int64_t session, std::string why, Result result) {
    state().sessions.refuse(session, std::move(why));
    return result;
}

// Sweep and search reductions that leave enough of a w x h image to measure.
void reductions(int w, int h, l_int32* sweep, l_int32* search) {
    const int shorter = std::min(w, h);
    *sweep = shorter >= 2400 ? 4 : shorter >= 800 ? 2 : 1;
    *search = std::max(1, *sweep / 2);
}

// The skew of the ink of dib in degrees, within +-maxAngle, rounded to precision; 0 when there is none
// to correct. Refusals are recorded for session.
double detect(std::int64_t session, const LockedDib& dib, double maxAngle, double precision) {
    if (dib.width < kSmallestMeasured || dib.height < kSmallestMeasured)
        return refused(session, "the bitmap is too small to measure a skew (under 16 x 16 pixels)", 0.0);
    PixPtr ink = dibpix::inkOf(dib);
    if (!ink) return refused(session, "out of memory", 0.0);
    l_int32 sweep = 1, search = 1;
    reductions(dib.width, dib.height, &sweep, &search);
    l_float32 angle = 0, confidence = 0;
    const float range = float(maxAngle + kSweepMargin);
    if (pixFindSkewSweepAndSearch(ink.get(), &angle, &confidence, sweep, search, range, kSweepStep, kSearchEnd) != 0)
        return 0.0;  // nothing to measure (a blank page): needs no correction
    if (confidence < kMinConfidence) return 0.0;
    // The limit applies to the angle as given back: a page turned by exactly maxAngle may measure a
    // little beyond it, and is still within it at the precision asked for.
    const double rounded = std::round(double(angle) / precision) * precision;
    if (std::fabs(rounded) > maxAngle + precision * 1e-6) return 0.0;
    return rounded == 0.0 ? 0.0 : rounded;  // no negative zero
}

// ink is the uncovered area: after a rotation of a w x h image by radians about its centre, 1 where
// no pixel of the image lands (by the same sampling as the rotation of palette indices).
PixPtr uncovered(int w, int h, double radians) {
    PixPtr all(pixCreate(w, h, 1));
    if (!all) return nullptr;
    pixSetAll(all.get());
    PixPtr covered(pixRotate(all.get(), float(radians), L_ROTATE_SAMPLING, L_BRING_IN_WHITE, 0, 0));
    if (!covered) return nullptr;
    return PixPtr(pixInvert(nullptr, covered.get()));
}

// Grey and colour images turned by area mapping: the edge is repeated outward first so that the
// image's border pixels are not blended with the outside, then whatever the turn uncovers is set to 0,
// so that uncovered and covered pixels are told apart exactly. Each image is let go as soon as the next
// is made (a colour page is four bytes a pixel).
PixPtr turnedSmooth(PixPtr pix, double radians) {
    const int w = pixGetWidth(pix.get()), h = pixGetHeight(pix.get());
    constexpr int kBorder = 2;
    PixPtr framed(pixAddRepeatedBorder(pix.get(), kBorder, kBorder, kBorder, kBorder));
    pix.reset();
    if (!framed) return nullptr;
    PixPtr turned(pixRotate(framed.get(), float(radians), L_ROTATE_AREA_MAP, L_BRING_IN_BLACK, 0, 0));
    framed.reset();
    if (!turned) return nullptr;
    PixPtr inner(pixRemoveBorderGeneral(turned.get(), kBorder, kBorder, kBorder, kBorder));
    turned.reset();
    PixPtr outside = uncovered(w, h, radians);
    if (!inner || !outside || pixSetMasked(inner.get(), outside.get(), 0) != 0) return nullptr;
    return inner;
}

// dib turned clockwise by degrees in place; false (recorded for session) when it cannot be.
bool correct(std::int64_t session, const LockedDib& dib, double degrees) {
    if (dib.width < 2 || dib.height < 2)
        return refused(session, "the bitmap is too small to turn (under 2 x 2 pixels)", false);
    PixPtr pix = dibpix::pixFromDib(dib);
    if (!pix) return refused(session, "out of memory", false);
    const double radians = degrees * kRadiansPerDegree;
    PixPtr turned;
    if (dib.depth == 1) {
        // Shear keeps 1-bit lines crisp; the bit value 0 comes in.
        turned.reset(pixRotate(pix.get(), float(radians), L_ROTATE_SHEAR, L_BRING_IN_WHITE, 0, 0));
    } else if (dib.depth == 4 || dib.tableEntries > 0) {
        // Palette indices (and 4-bit levels) are moved, never mixed; 0 comes in.
        turned.reset(pixRotate(pix.get(), float(radians), L_ROTATE_SAMPLING, L_BRING_IN_BLACK, 0, 0));
    } else if (dib.depth == 32) {
        // Area mapping gives colour only: the fourth byte (alpha) is turned on its own and put back.
        PixPtr alpha(pixGetRGBComponent(pix.get(), L_ALPHA_CHANNEL));
        if (!alpha) return refused(session, "out of memory", false);
        turned = turnedSmooth(std::move(pix), radians);
        PixPtr alphaTurned = turned ? turnedSmooth(std::move(alpha), radians) : nullptr;
        if (!alphaTurned || pixSetRGBComponent(turned.get(), alphaTurned.get(), L_ALPHA_CHANNEL) != 0) turned.reset();
    } else {
        turned = turnedSmooth(std::move(pix), radians);
    }
    if (!turned) return refused(session, "out of memory", false);
    dibpix::pixToDib(turned.get(), dib);
    return true;
}

}  // namespace

#define RECODE_ENTRY extern "C" __attribute__((visibility("default")))

// Takes two texts (not used), gives a new session's handle.
RECODE_ENTRY std::int64_t DESKEW_Init(const char*, const char*) {
    dibpix::silenceLeptonica();
    return state().sessions.open();
}

// Takes a session, a packed DIB, the largest angle and the precision in degrees; gives the skew in
// degrees, 0 when none is to be corrected or the input is refused.
RECODE_ENTRY double DESKEW_Detect(std::int64_t session, HGLOBAL dib, double maxAngle, double precision, std::int64_t,
                                  std::int64_t) {
    if (!state().sessions.known(session)) return refused(session, "unknown session handle", 0.0);
    state().sessions.clear(session);
    if (!(maxAngle > 0 && maxAngle <= kMostAngle))
        return refused(session, "the largest angle must be above 0 and at most 45 degrees", 0.0);
    if (!(precision > 0 && precision <= maxAngle))
        return refused(session, "the precision must be above 0 and at most the largest angle", 0.0);
    LockedDib locked;
    std::string why;
    if (!locked.open(dib, &why)) return refused(session, why, 0.0);
    return detect(session, locked, maxAngle, precision);
}

// Takes a session, a packed DIB and an angle in degrees; turns the DIB in place. 0, or -1 refused.
RECODE_ENTRY std::int64_t DESKEW_Correct(std::int64_t session, HGLOBAL dib, double angle, std::int64_t, std::int64_t,
                                         std::int64_t) {
    if (!state().sessions.known(session)) return refused(session, "unknown session handle", std::int64_t(-1));
    state().sessions.clear(session);
    if (!(std::fabs(angle) <= kMostAngle))
        return refused(session, "the angle must be between -45 and 45 degrees", std::int64_t(-1));
    LockedDib locked;
    std::string why;
    if (!locked.open(dib, &why)) return refused(session, why, std::int64_t(-1));
    if (angle == 0.0) return 0;
    return correct(session, locked, angle) ? 0 : -1;
}

// Takes a session; ends it. 0, or -1 for an unknown handle.
RECODE_ENTRY std::int64_t DESKEW_Done(std::int64_t session) { return state().sessions.close(session) ? 0 : -1; }

// Takes a session; gives the reason of its last refusal ("" when its last call went through).
RECODE_ENTRY const char* DESKEW_LastError(std::int64_t session) { return state().sessions.lastError(session); }

// The entries have the types the add-on calls them by.
static_assert(std::is_same_v<decltype(&DESKEW_Init), recode::DeskewInit>);
static_assert(std::is_same_v<decltype(&DESKEW_Detect), recode::DeskewDetect>);
static_assert(std::is_same_v<decltype(&DESKEW_Correct), recode::DeskewCorrect>);
static_assert(std::is_same_v<decltype(&DESKEW_Done), recode::DeskewDone>);
static_assert(std::is_same_v<decltype(&DESKEW_LastError), recode::DeskewLastError>);
