// Inside the support library: conversion between its narrow (UTF-8) texts and the
// host's wide strings, and replacing a small file safely.
#pragma once

#include <string>

#include "host/utf8text.h"

namespace tov {

// Wide copy of a UTF-8 text (null gives an empty text), converted as host/utf8text.h does.
inline std::wstring w_wide(const char* text) { return text ? w_utf8Widen(text) : std::wstring(); }
// UTF-8 copy of a wide text (null gives an empty text), converted as host/utf8text.h does.
inline std::string s_narrow(const wchar_t* text) { return text ? s_utf8Narrow(text) : std::string(); }
// True when path names an existing regular file.
bool b_regularFile(const std::string& path);
// Replaces the file at path by text through the host's writer (see host/hostio.h); false when it failed.
bool b_fileReplace(const std::string& path, const std::string& text);

}  // namespace tov
