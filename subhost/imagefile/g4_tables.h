// The code tables of CCITT T.4/T.6 (run lengths of white and black pixels, the makeup codes both
// colours share above 1728) and the lookup tables built from them, shared by the G4 decoder and
// encoder. Not part of the host's interface.
#pragma once

#include <cstdint>

namespace subhost::imagefile::g4::detail {

// One code: its bits (the low `length` of them, most significant first).
struct Code {
    std::uint16_t bits;
    std::uint8_t length;
};

// Terminating codes are runs 0..63; makeup codes runs 64, 128, ... 1728; the shared makeup codes
// runs 1792, 1856, ... 2560.
constexpr Code kWhiteTerminating[] = {
    {0x35, 8}, {0x7, 6},  {0x7, 4},  {0x8, 4},  {0xb, 4},  {0xc, 4},  {0xe, 4},  {0xf, 4},  {0x13, 5}, {0x14, 5},
    {0x7, 5},  {0x8, 5},  {0x8, 6},  {0x3, 6},  {0x34, 6}, {0x35, 6}, {0x2a, 6}, {0x2b, 6}, {0x27, 7}, {0xc, 7},
    {0x8, 7},  {0x17, 7}, {0x3, 7},  {0x4, 7},  {0x28, 7}, {0x2b, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x2, 8},
    {0x3, 8},  {0x1a, 8}, {0x1b, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2a, 8}, {0x2b, 8}, {0x2c, 8}, {0x2d, 8}, {0x4, 8},  {0x5, 8},  {0xa, 8},  {0xb, 8},  {0x52, 8},
    {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8}, {0x59, 8}, {0x5a, 8}, {0x5b, 8}, {0x4a, 8},
    {0x4b, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8}};
constexpr Code kWhiteMakeup[] = {{0x1b, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8}, {0x64, 8},
                                 {0x65, 8}, {0x68, 8}, {0x67, 8}, {0xcc, 9}, {0xcd, 9}, {0xd2, 9}, {0xd3, 9},
                                 {0xd4, 9}, {0xd5, 9}, {0xd6, 9}, {0xd7, 9}, {0xd8, 9}, {0xd9, 9}, {0xda, 9},
                                 {0xdb, 9}, {0x98, 9}, {0x99, 9}, {0x9a, 9}, {0x18, 6}, {0x9b, 9}};
constexpr Code kBlackTerminating[] = {
    {0x37, 10}, {0x2, 3},   {0x3, 2},   {0x2, 2},   {0x3, 3},   {0x3, 4},   {0x2, 4},   {0x3, 5},
    {0x5, 6},   {0x4, 6},   {0x4, 7},   {0x5, 7},   {0x7, 7},   {0x4, 8},   {0x7, 8},   {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x8, 10},  {0x67, 11}, {0x68, 11}, {0x6c, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xca, 12}, {0xcb, 12}, {0xcc, 12}, {0xcd, 12}, {0x68, 12}, {0x69, 12},
    {0x6a, 12}, {0x6b, 12}, {0xd2, 12}, {0xd3, 12}, {0xd4, 12}, {0xd5, 12}, {0xd6, 12}, {0xd7, 12},
    {0x6c, 12}, {0x6d, 12}, {0xda, 12}, {0xdb, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2b, 12}, {0x2c, 12}, {0x5a, 12}, {0x66, 12}, {0x67, 12}};
constexpr Code kBlackMakeup[] = {{0xf, 10},  {0xc8, 12}, {0xc9, 12}, {0x5b, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12},
                                 {0x6c, 13}, {0x6d, 13}, {0x4a, 13}, {0x4b, 13}, {0x4c, 13}, {0x4d, 13}, {0x72, 13},
                                 {0x73, 13}, {0x74, 13}, {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13},
                                 {0x54, 13}, {0x55, 13}, {0x5a, 13}, {0x5b, 13}, {0x64, 13}, {0x65, 13}};
constexpr Code kSharedMakeup[] = {{0x8, 11},  {0xc, 11},  {0xd, 11},  {0x12, 12}, {0x13, 12}, {0x14, 12}, {0x15, 12},
                                  {0x16, 12}, {0x17, 12}, {0x1c, 12}, {0x1d, 12}, {0x1e, 12}, {0x1f, 12}};

// A decode table entry: the run a code stands for and its length in bits (0: no code starts so).
struct RunEntry {
    std::uint16_t run;
    std::uint8_t length;
};

constexpr int kWhiteLookupBits = 12;  // the longest white code
constexpr int kBlackLookupBits = 13;  // the longest black code

// Gives the decode tables, indexed by the next 12 (white) or 13 (black) bits.
const RunEntry* whiteLookup();
const RunEntry* blackLookup();

// Takes a colour (0 white, 1 black) and a run of at most 2560 that is a terminating run (< 64) or
// a multiple of 64, gives its code.
inline Code runCode(int colour, int run) {
    if (run < 64) return colour ? kBlackTerminating[run] : kWhiteTerminating[run];
    const int index = run / 64 - 1;
    if (index < 27) return colour ? kBlackMakeup[index] : kWhiteMakeup[index];
    return kSharedMakeup[index - 27];
}

}  // namespace subhost::imagefile::g4::detail
