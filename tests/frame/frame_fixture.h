// Test fixture that loads the real add-on into the substitute host in-process,
// with its settings file in a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/app.h"
#include "frame/commands.h"
#include "host/mdlresource.h"
#include "settings/settings.h"
#include "subhost/host.h"

class FrameTest : public ::testing::Test {
protected:
    std::filesystem::path dir;
    std::filesystem::path settingsPath;

    void SetUp() override {
        subhost::hostReset();
        v_addonStateReset();
        char pattern[] = "/tmp/pxmend-frame-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        settingsPath = dir / "Pxmend.ini";
        subhost::setCfgVar("PXMEND_SETTINGS", settingsPath.string());
    }

    void TearDown() override {
        if (subhost::applicationLoaded()) {
            subhost::setDefaultAnswer(ACTIONBUTTON_NO);
            subhost::unloadApplication(0);
        }
        subhost::hostReset();
        std::error_code ignored;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir, ignored);
    }

    // Loads the add-on as the host does from a key-in (or how); asserts success.
    void load(const std::string& how = "KEYIN") {
        std::string error;
        ASSERT_TRUE(
            subhost::loadLinkedApplication(&MdlMain, &MdlResources, (dir / "bin" / "pxmend.so").string(), how, &error))
            << error;
    }

    // Writes text as the settings file.
    void writeSettings(const std::string& text) { std::ofstream(settingsPath) << text; }

    std::string readFile(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A design file with one view; readOnly as given.
    std::filesystem::path writeDesign(bool readOnly, const std::string& name = "site.dgn") {
        const auto path = dir / (name + ".json");
        std::ofstream(path)
            << R"({"name": ")" << name << R"(", "readOnly": )" << (readOnly ? "true" : "false")
            << R"(, "views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [100, 100, 0], "fill": true}]})";
        return path;
    }

    void openDesign(bool readOnly) {
        std::string error;
        ASSERT_TRUE(subhost::openDesign(writeDesign(readOnly).string(), &error)) << error;
    }

    void keyin(const std::string& text) {
        std::string error;
        ASSERT_TRUE(subhost::keyin(text, &error)) << error;
    }

    // Every transcript event named event.
    std::vector<nlohmann::json> events(const std::string& event) {
        std::vector<nlohmann::json> found;
        for (const auto& e : subhost::transcript())
            if (e.value("event", "") == event) found.push_back(e);
        return found;
    }

    // Message boxes shown with dialog id.
    std::vector<nlohmann::json> boxes(int dialogId) {
        std::vector<nlohmann::json> found;
        for (const auto& e : events("messageBox"))
            if (e.value("dialog", 0) == dialogId) found.push_back(e);
        return found;
    }

    // The dumped item of type (four-character code) and id of dialog ("toolsettings" or an id).
    nlohmann::json item(const std::string& dialog, const std::string& type, int id) {
        const nlohmann::json dump = subhost::dumpItems(dialog);
        for (const auto& i : dump.value("items", nlohmann::json::array()))
            if (i.value("type", "") == type && i.value("id", 0) == id) return i;
        ADD_FAILURE() << "no item " << type << " " << id << " in dialog " << dialog << ": " << dump.dump();
        return nlohmann::json::object();
    }

    bool enabled(const std::string& dialog, const std::string& type, int id) {
        return item(dialog, type, id).value("enabled", false);
    }

    bool shown(const std::string& dialog, const std::string& type, int id) {
        return item(dialog, type, id).value("shown", false);
    }
};

constexpr const char* DISPLAY_WARNING_TEXT =
    "To properly operate PixelMend, please make sure your\n"
    "\"File | Settings | User | Preferences | Raster Manager | \n"
    "Use Independent Process for Display\" preference is OFF.";
