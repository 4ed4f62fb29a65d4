// Basic types of the host programming interface: wide strings, points,
// rectangles, colours and the opaque handles the host hands out.
#pragma once

#include <cstddef>
#include <cstdint>

using WChar = wchar_t;
using WCharP = wchar_t*;
using WCharCP = const wchar_t*;
using MSWChar = wchar_t;

using CommandNumber = std::uint64_t;
using StatusInt = int;

// Sizes of the host's fixed text buffers (characters, terminator included).
constexpr int MAXFILELENGTH = 256;
constexpr int MAXDEVICELENGTH = 16;
constexpr int MAXDIRLENGTH = 256;
constexpr int MAXNAMELENGTH = 256;
constexpr int MAXEXTENSIONLENGTH = 32;
constexpr int MAX_CFGVAR_LENGTH = 1024;

// Generic host statuses.
constexpr int SUCCESS = 0;
constexpr int ERROR = 32768;
constexpr int MDLERR_INSFMEMORY = -116;
constexpr int MDLERR_CANNOTWRITEFORMAT = -119;

struct DPoint3d {
    double x, y, z;
};

struct DPoint2d {
    double x, y;
};

// A box in design coordinates: low and high corners.
struct DRange3d {
    DPoint3d low, high;
};

struct Point2d {
    int x, y;
};

// Window rectangle in pixels: origin is the top-left corner, corner the bottom-right (inclusive).
struct BSIRect {
    Point2d origin;
    Point2d corner;
};

struct RotMatrix {
    double form3d[3][3];
};

struct RGBColorDef {
    std::uint8_t red, green, blue;
};

struct VersionNumber {
    std::uint16_t release, major, minor, subMinor;
};

// Opaque host objects. Only the host knows their layout.
struct MSDialog;
struct MSWindow;
struct RawItemHdr;
struct TextPDM;
struct TextPDMItem;
struct StringList;
struct DgnModelRef;
struct SymbolSet;
struct CompletionBar;
struct RscFileHandleRec;

using DgnModelRefP = DgnModelRef*;
using RscFileHandle = RscFileHandleRec*;

// Information fields of a string-list member.
using InfoField = long;

// Value of a dialog item: a whole number or a double (texts travel separately).
struct MSValueDescr {
    enum Kind : int { None = 0, Long = 1, Double = 2, String = 3 };
    int kind = None;
    long longValue = 0;
    double doubleValue = 0.0;
};
