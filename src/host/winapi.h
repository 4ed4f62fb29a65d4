// The few platform (Windows-style) calls the add-on makes, under their own names: the colour
// chooser, the drawing calls of the stamp (device contexts, device-independent bitmaps, pens,
// brushes, polygon regions), movable memory blocks, the user's number format and the run-time
// loading of outside libraries.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using LCID = DWORD;
using LCTYPE = DWORD;
using COLORREF = std::uint32_t;  // red + green * 256 + blue * 65536

constexpr std::uint32_t CC_RGBINIT = 0x1;
constexpr std::uint32_t CC_FULLOPEN = 0x2;

struct CHOOSECOLORA {
    std::uint32_t lStructSize;
    void* hwndOwner;
    void* hInstance;
    COLORREF rgbResult;      // red + green * 256 + blue * 65536
    COLORREF* lpCustColors;  // 16 custom colours, kept by the caller
    std::uint32_t Flags;
};

// Handles: each points at an object the host owns; the add-on never looks inside.
struct HDC__;
struct HBITMAP__;
struct HPEN__;
struct HBRUSH__;
struct HRGN__;
using HDC = HDC__*;
using HBITMAP = HBITMAP__*;
using HPEN = HPEN__*;
using HBRUSH = HBRUSH__*;
using HRGN = HRGN__*;
using HGDIOBJ = void*;  // any of HBITMAP, HPEN, HBRUSH, HRGN
using HANDLE = void*;
using HGLOBAL = void*;
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = void (*)();      // cast to the entry's real type before calling
using HINSTANCE = HINSTANCE__*;  // what ShellExecuteA gives: a number above 32 on success
struct HWND__;
using HWND = HWND__*;

struct POINT {
    LONG x;
    LONG y;
};

struct BITMAPINFOHEADER {
    DWORD biSize;  // 40
    LONG biWidth;
    LONG biHeight;  // positive: rows stored bottom row first
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;  // 0: a table of 1 << biBitCount entries for 1, 4 and 8 bits
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];  // the colour table follows the header
};

struct LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    std::uintptr_t lbHatch;
};

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;
constexpr DWORD PS_SOLID = 0x0;
constexpr DWORD PS_NULL = 0x5;
constexpr DWORD PS_USERSTYLE = 0x7;
constexpr DWORD PS_STYLE_MASK = 0xF;
constexpr DWORD PS_ENDCAP_ROUND = 0x000;
constexpr DWORD PS_ENDCAP_SQUARE = 0x100;
constexpr DWORD PS_ENDCAP_FLAT = 0x200;
constexpr DWORD PS_ENDCAP_MASK = 0xF00;
constexpr DWORD PS_JOIN_ROUND = 0x0000;
constexpr DWORD PS_JOIN_BEVEL = 0x1000;
constexpr DWORD PS_JOIN_MITER = 0x2000;
constexpr DWORD PS_JOIN_MASK = 0xF000;
constexpr DWORD PS_GEOMETRIC = 0x10000;
constexpr int ALTERNATE = 1;
constexpr int WINDING = 2;
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;
constexpr int RGN_ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
constexpr UINT GMEM_MOVEABLE = 0x2;
constexpr UINT GMEM_ZEROINIT = 0x40;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr LCTYPE LOCALE_SDECIMAL = 0x0E;
constexpr LCTYPE LOCALE_STHOUSAND = 0x0F;
constexpr LCTYPE LOCALE_IDIGITS = 0x11;
constexpr int SW_SHOW = 5;
// ShellExecuteA answers above 32 mean success; these are its failures.
constexpr std::intptr_t SE_ERR_FNF = 2;
constexpr std::intptr_t SE_ERR_ACCESSDENIED = 5;
constexpr std::intptr_t SE_ERR_OOM = 8;
constexpr std::intptr_t SE_ERR_BADFORMAT = 11;
constexpr std::intptr_t SE_ERR_SHARE = 26;
constexpr std::intptr_t SE_ERR_ASSOCINCOMPLETE = 27;
constexpr std::intptr_t SE_ERR_NOASSOC = 31;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

extern "C" {
// Shows the platform colour chooser; nonzero when the user chose a colour.
int ChooseColorA(CHOOSECOLORA* choose);

// ---- Device contexts and bitmaps ----

// A memory device context (dc is ignored) with a 1 x 1 monochrome stock bitmap, a black pen and a white
// brush selected; null when out of memory.
HDC CreateCompatibleDC(HDC dc);
// A device-independent bitmap of info's header (1, 4, 8, 24 or 32 bits, BI_RGB; the colour table of
// 1 << bits entries follows the header for 1, 4 and 8 bits), zeroed; *bits gets its first pixel byte.
// Null (and *bits null) for another format, a size beyond 2 GiB or no memory; section must be null.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);
// Selects a bitmap, pen or brush into dc; gives the object of the same kind selected before, null for a
// handle that is not a live object (or a region).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Frees a bitmap, pen, brush or region; FALSE for an unknown handle or one selected into a device context
// (stock objects stay and give TRUE).
BOOL DeleteObject(HGDIOBJ object);
// Frees a memory device context (the objects selected in it stay); FALSE for an unknown handle.
BOOL DeleteDC(HDC dc);
// Sets entries start .. start + count - 1 of the colour table of the bitmap selected into dc; the number set,
// 0 without a bitmap of 1, 4 or 8 bits.
UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors);
// Makes sure every drawing call has reached the bitmaps' memory; call it before reading or writing the bits
// of a bitmap that was drawn on; TRUE.
BOOL GdiFlush();

// ---- Pens, brushes, drawing ----

// A pen of style (PS_GEOMETRIC with an end cap and join, or a 1-pixel cosmetic pen; PS_SOLID, PS_NULL or
// PS_USERSTYLE with styleCount dash and gap lengths in pixels starting with a dash), width pixels wide,
// in brush's colour; null for a bad style, a style array of more than 16 entries or no length.
HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styleArray);
// A solid brush of color.
HBRUSH CreateSolidBrush(COLORREF color);
// Sets dc's polygon fill mode (ALTERNATE or WINDING); the mode before, 0 for a bad dc or mode.
int SetPolyFillMode(HDC dc, int mode);
// Draws lines through count points (at least 2) with dc's pen; FALSE otherwise.
BOOL Polyline(HDC dc, const POINT* points, int count);
// Fills the polygon of count points (at least 2) with dc's brush by dc's fill mode, then outlines it
// closed with dc's pen; FALSE otherwise.
BOOL Polygon(HDC dc, const POINT* points, int count);

// ---- Regions ----

// A region of the polygon of count points (at least 3) filled by mode (ALTERNATE or WINDING); null
// otherwise.
HRGN CreatePolygonRgn(const POINT* points, int count, int mode);
// dest = src1 combined with src2 by mode (RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF; RGN_COPY takes src1 alone);
// COMPLEXREGION, or RGN_ERROR for an unknown handle or mode.
int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode);
// Paints region with brush in the bitmap selected into dc; FALSE for an unknown handle.
BOOL FillRgn(HDC dc, HRGN region, HBRUSH brush);

// ---- Movable memory ----

// A memory block of bytes (zeroed whatever flags say); null when there is no memory.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
// The block's first byte, counting one lock more; null for an unknown handle.
void* GlobalLock(HGLOBAL block);
// Counts one lock less; TRUE while the block stays locked, FALSE when unlocked or unknown.
BOOL GlobalUnlock(HGLOBAL block);
// Frees the block; null on success, the handle itself when it is unknown.
HGLOBAL GlobalFree(HGLOBAL block);
// The block's size in bytes as asked of GlobalAlloc; 0 for an unknown handle.
std::size_t GlobalSize(HGLOBAL block);

// ---- The user's number format (the environment's LC_ALL, LC_NUMERIC or LANG) ----

// Writes value (optional '-', digits, optional '.' and digits) into out (size characters with the
// terminating zero) grouped by the locale's thousands separator and grouping, with the locale's decimal
// separator and exactly LOCALE_IDIGITS fractional digits (format must be null); the characters written with
// the zero, the size needed when size is 0, 0 for a bad value or a too small buffer. An unknown locale
// formats as the C locale: no grouping, '.'.
int GetNumberFormatA(LCID locale, DWORD flags, const char* value, const void* format, char* out, int size);
// Writes the locale's LOCALE_IDIGITS (fractional digits of numbers: 2), LOCALE_SDECIMAL or
// LOCALE_STHOUSAND text into data; the characters with the zero, the size needed when size is 0, 0 for
// another type or a too small buffer.
int GetLocaleInfoA(LCID locale, LCTYPE type, char* data, int size);

// ---- Outside libraries loaded at run time (subhost/README.md tells where a name is looked for) ----

// Loads the library called name (e.g. "RECODESKEW.DLL"), counting one load more; its handle, or null
// (the reason recorded by the host) when it is not found or cannot be loaded.
HMODULE LoadLibraryA(const char* name);
// The entry called name of a loaded library; null for an unknown handle or a missing entry.
FARPROC GetProcAddress(HMODULE module, const char* name);
// Counts one load less, unloading the library at none; FALSE for a handle that is not loaded.
BOOL FreeLibrary(HMODULE module);

// ---- The shell and files (subhost/README.md: the desktop association and the Open With dialog) ----

// Runs verb on file as the desktop does: "open", "edit" or null start the program the user's desktop
// associates with the file's type (parameters and directory unused, show ignored), not waiting for it;
// "openas" shows the Open With dialog. A value above 32 when a program was started or the dialog shown;
// else SE_ERR_FNF (no such file), SE_ERR_ACCESSDENIED (the file cannot be opened for reading),
// SE_ERR_NOASSOC (no program is associated with its type), SE_ERR_OOM, or SE_ERR_BADFORMAT (the
// associated program cannot be started).
HINSTANCE ShellExecuteA(HWND window, const char* verb, const char* file, const char* parameters, const char* directory,
                        int show);
// Opens the existing file name for writing at its end (access GENERIC_WRITE, share 0: nobody else may
// write it meanwhile; creation OPEN_EXISTING); the handle, or INVALID_HANDLE_VALUE when it cannot be
// opened for appending or another process holds a write lock on it (fcntl or flock).
HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD creation, DWORD flags,
                   HANDLE templateFile);
// Closes a handle of CreateFileA; FALSE for an unknown one.
BOOL CloseHandle(HANDLE handle);
}
