// Texts of DXF drawings as design texts: control codes (%%d, \U+00B0), MTEXT
// formatting codes and paragraphs, and UTF-8 whatever the drawing's code page.
#pragma once

#include <string>
#include <vector>

namespace pixelmend::dxf {

// Longest text a design element holds, in bytes.
constexpr std::size_t kMaxTextBytes = 65535;

// Takes a TEXT value; gives it as UTF-8 with %%d, %%p, %%c, %%nnn and \U+XXXX written out,
// %%u and %%o (underline, overline) dropped and at most kMaxTextBytes long.
std::string plainText(const std::string& raw);

// Takes an MTEXT value; gives its paragraphs (split at \P) with formatting codes ({}, \f...;
// \H...; \L, \S a^b; ...) removed, each as plainText gives it.
std::vector<std::string> mtextLines(const std::string& raw);

// The text as UTF-8: valid UTF-8 is kept, anything else is read as Windows-1252.
std::string asUtf8(const std::string& text);

}  // namespace pixelmend::dxf
