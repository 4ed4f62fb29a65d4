// Inside the settings module: the keys of the settings file and the pieces the
// writer, the reader and the change test share.
#pragma once

#include <cstddef>
#include <string>

#include "settings/settings.h"

// The reader takes a line in chunks of at most this many characters.
constexpr std::size_t SETTINGS_LINE_CHUNK = 1023;

// How a keyed field of the record is written and read.
enum class SettingsKeyKind { Number, Text, Rgb };

// One key of the settings file, in the order the writer writes them (the line
// weights and styles follow the table).
struct SettingsKey {
    const char* name;
    SettingsKeyKind kind;
    int t_globals::*number;  // Number keys only
    bool compared;           // taken into account by the change test
};

// The keyed fields in file order; count in *count.
const SettingsKey* pv_settingsKeys(std::size_t* count);

// The whole text of a settings file for record, with dateText on the "Date created=" line.
std::string s_settingsText(const t_globals& record, const char* dateText);
// Applies the settings-file text to record, line by line as the reader does.
void v_settingsParse(t_globals& record, const std::string& text);
// A decimal number as the reader takes it: blanks skipped, optional sign, digits up to the
// first other character; no digits give 0; values beyond the int range are clamped to it.
int j_settingsNumber(const char* text);
