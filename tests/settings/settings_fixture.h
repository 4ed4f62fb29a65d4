// Shared set-up of the settings tests: a fresh host, a scratch folder and the
// record at factory values.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/app.h"
#include "settings/settings.h"
#include "subhost/host.h"

namespace settings_test {

namespace fs = std::filesystem;

inline std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void fileWrite(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Transcript events named name.
inline std::vector<nlohmann::json> events(const std::string& name) {
    std::vector<nlohmann::json> found;
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == name) found.push_back(e);
    return found;
}

// Texts of the message boxes shown.
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
        v_addonStateReset();
        v_settingsDefaults();
        setFileName(dir / "Pxmend.ini");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    void setFileName(const fs::path& path) {
        std::snprintf(g_settings.fileName, sizeof g_settings.fileName, "%s", path.c_str());
    }
    fs::path settingsPath() const { return g_settings.fileName; }

    fs::path dir;
};

}  // namespace settings_test
