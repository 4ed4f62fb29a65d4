// The entries of the two outside imaging libraries, recodeskew.so ("RECODESKEW.DLL") and
// recodespeckle.so ("RECODESPECKLE.DLL"), as found with GetProcAddress: integers and handles are
// 64-bit, the bitmap is the movable-memory handle of a packed DIB (40-byte header, colour table,
// bottom-up rows padded to 4 bytes). Each library also has a LastError entry that gives the
// reason of a session's last refusal.
#pragma once

#include <cstdint>

#include "host/winapi.h"

namespace recode {

// Opens a session; both texts may be anything (null too). Gives its handle.
using DeskewInit = std::int64_t (*)(const char*, const char*);
// The skew in degrees (positive: lines rise to the right) within +-maxAngle to precision; 0 when the
// bitmap needs no correction, the skew is beyond maxAngle, not found with confidence, or the input is
// refused (see DeskewLastError). The last two arguments are not used.
using DeskewDetect = double (*)(std::int64_t session, HGLOBAL dib, double maxAngle, double precision, std::int64_t,
                                std::int64_t);
// Turns the bitmap in place about its centre, clockwise as displayed for a positive angle in degrees
// (at most 45); uncovered area becomes zero bytes. 0 done, -1 refused. The last three are not used.
using DeskewCorrect = std::int64_t (*)(std::int64_t session, HGLOBAL dib, double angle, std::int64_t, std::int64_t,
                                       std::int64_t);
// Ends the session; 0, or -1 for an unknown handle.
using DeskewDone = std::int64_t (*)(std::int64_t session);
// The reason of the session's last refusal ("" after a call that went through).
using DeskewLastError = const char* (*)(std::int64_t session);

using DespeckleInit = std::int64_t (*)(const char*, const char*);
// Removes from a 1-bit bitmap every 8-connected group of black (colour-table index 0) pixels whose
// bounding box is at most across x at most down y pixels; gives their number, or -3 when the input
// is refused (see DespeckleLastError).
using DespeckleRemovePoints = std::int32_t (*)(std::int64_t session, HGLOBAL dib, std::int64_t across,
                                               std::int64_t down);
using DespeckleDone = std::int64_t (*)(std::int64_t session);
using DespeckleLastError = const char* (*)(std::int64_t session);

constexpr std::int32_t kSpeckleRefused = -3;

}  // namespace recode
