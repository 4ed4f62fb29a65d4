// Reading an ASCII DXF file for dxflib: the group code / value pairs are read
// here first, their structure and numbers checked with line numbers, and only
// the pairs of the tables, blocks and entities the import understands are
// handed on to dxflib, which tolerates damaged files silently.
#pragma once

#include <cstddef>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace pixelmend::dxf {

// Longest line read (DXF texts are at most a few thousand bytes); longer is refused.
constexpr std::size_t kMaxLineBytes = 65536;
// Longest value handed on to dxflib, which reads lines into 1024-byte buffers.
constexpr std::size_t kMaxFedValueBytes = 1000;
// Most vertices one LWPOLYLINE may announce (dxflib sets memory aside for all of them).
constexpr long kMaxPolylineVertices = 1000000;

// What the reader knows of the HATCH being read (pattern lines are not handed to dxflib).
struct HatchExtras {
    bool hasBoundary = false;           // a loop (group 92) was given
    std::optional<double> lineAngle;    // the first pattern line's angle (group 53), degrees
    std::optional<double> lineOffsetX;  // its offset to the next line (groups 45, 46)
    std::optional<double> lineOffsetY;
};

// Module state of the reader: where it is in the file, what it found, and the first problem.
struct ReaderState {
    std::string fileName;                // as named in messages
    long line = 0;                       // lines read so far
    long entityLine = 0;                 // first line of the object dxflib is finishing now
    std::string entityKind;              // its kind (LINE, INSERT, ...)
    std::string section;                 // section being read, empty outside one
    bool sawEntities = false;            // an ENTITIES section was found
    bool sawEof = false;                 // the EOF marker was read
    std::map<std::string, int> skipped;  // entities not imported, by kind
    int shortenedValues = 0;             // texts cut to kMaxFedValueBytes
    HatchExtras hatch;                   // of the object dxflib is finishing now
    bool polylineCounted = false;        // ... and whether it gave an LWPOLYLINE vertex count
    std::string error;                   // the first problem ("line N: ..."); reading stops at it
};

// A stream of the pairs to hand to dxflib, read from in as dxflib asks for them; problems land
// in state->error and end the stream. in and state must outlive the stream.
std::unique_ptr<std::istream> openPairStream(std::istream& in, ReaderState* state);

// Takes the reader's state after dxflib read the whole stream; gives the problem found at the
// end (a missing EOF marker or ENTITIES section), or the one found earlier; empty when none.
std::string finalProblem(const ReaderState& state);

}  // namespace pixelmend::dxf
