// Shared set-up of the settings tests: a fresh host, a scratch folder, the
// record at factory values and helpers to read the host's transcript.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "subhost/host.h"

namespace settings_test {

namespace fs = std::filesystem;

// Whole content of a file ("" when it cannot be read).
inline std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Writes text to a file as it is.
inline void fileWrite(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Transcript events named name.
inline std::vector<nlohmann::json> events(const std::string& name) {
    std::vector<nlohmann::json> found;
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == name) found.push_back(e);
    return found;
}

// Texts of the message boxes shown since the last clear.
inline std::vector<std::string> messageTexts() {
    std::vector<std::string> texts;
    for (const auto& e : events("messageBox")) texts.push_back(e.value("text", ""));
    return texts;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        char pattern[] = "/tmp/pxmend-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        g_settings = SettingsState{};
        v_settingsDefaults();
        setFileName(dir / "Pxmend.ini");
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }
    void setFileName(const fs::path& path) {
        std::snprintf(g_settings.fileName, sizeof g_settings.fileName, "%s", path.c_str());
    }
    fs::path settingsPath() const { return g_settings.fileName; }

    fs::path dir;
};

}  // namespace settings_test
