// The few platform (Windows-style) calls the add-on makes, under their own names.
#pragma once

#include <cstdint>

using COLORREF = std::uint32_t;

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

extern "C" {
// Shows the platform colour chooser; nonzero when the user chose a colour.
int ChooseColorA(CHOOSECOLORA* choose);
}
