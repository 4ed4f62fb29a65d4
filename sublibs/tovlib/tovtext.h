// Inside the support library: conversion between its narrow texts and the host's
// wide strings, and replacing a small file safely.
#pragma once

#include <string>

namespace tov {

// Wide copy of a narrow 8-bit text, byte for byte (null gives an empty text).
std::wstring w_wide(const char* text);
// Narrow copy of a wide text (characters above 255 become '?').
std::string s_narrow(const wchar_t* text);
// True when path names an existing regular file.
bool b_regularFile(const std::string& path);
// Replaces the file at path by text through a temporary file beside it; false when it failed.
bool b_fileReplace(const std::string& path, const std::string& text);

}  // namespace tov
