// The settings dialog through the loaded add-on: pages loaded on demand, the
// line-weight and line-style lists, cancel putting back what was there, the
// title and menu mark, the settings commands with the dialog open, the help
// button, the scratch folder and its chooser, and hostile input.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "frame/frame_fixture.h"
#include "host/messages.h"
#include "resources/ids.h"
#include "settings/dialog.h"
#include "settings/settings_file.h"

namespace {

const std::string DIALOG = std::to_string(rid::DIALOG_SETTINGS);
constexpr int PAGE_INTERFACE_ROW = 0, PAGE_BACKUP_ROW = 2, PAGE_SCRATCH_ROW = 4, PAGE_WEIGHTS_ROW = 5,
              PAGE_STYLES_ROW = 6;

class SettingsDialog : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        subhost::setCfgVar("PXMEND_PDF_VIEWER", std::string("none"));
        load();
        subhost::clearTranscript();
    }

    void open() { keyin("PXMEND SETTINGS DIALOG"); }

    void set(std::uint32_t type, int id, const std::string& value) {
        std::string error;
        ASSERT_TRUE(subhost::itemSet(DIALOG, type, id, value, &error)) << error;
    }
    void press(std::uint32_t type, int id) {
        std::string error;
        ASSERT_TRUE(subhost::itemPress(DIALOG, type, id, &error)) << error;
    }
    void page(int row) { set(RTYPE_ListBox, rid::ITEM_SETTINGS_PAGES, std::to_string(row)); }

    // Column 1 (the value) of row of the list box id.
    std::string cell(int listId, int row) {
        const auto rows = item(DIALOG, "lBox", listId).value("rows", nlohmann::json::array());
        return row < static_cast<int>(rows.size()) ? rows[row][1].get<std::string>() : "<no row>";
    }
    std::string title() { return subhost::dumpItems(DIALOG).value("title", ""); }
    int autoSaveMark() {
        for (const auto& entry : item(DIALOG, "mBar", rid::ITEM_SETTINGS_MENUBAR).value("menu", nlohmann::json()))
            if (entry.value("searchValue", 0) == rid::MENU_SETTINGS_AUTOSAVE) return entry.value("mark", -1);
        return -1;
    }
};

TEST_F(SettingsDialog, OpensWithTitlePagesAndMenuMark) {
    open();
    EXPECT_EQ(title(), "PixelMend Settings - " + settingsPath.string());
    EXPECT_EQ(item(DIALOG, "lBox", rid::ITEM_SETTINGS_PAGES).value("rows", nlohmann::json()).size(), 7u);
    EXPECT_EQ(autoSaveMark(), 1);
    keyin("PXMEND SETTINGS AUTOSAVE");
    EXPECT_EQ(autoSaveMark(), 2);
    EXPECT_EQ(s__globals.SaveWithoutAsking, 1);
    page(PAGE_INTERFACE_ROW);
    EXPECT_STREQ(s__globals.PageName, "settingsInterface");
    EXPECT_EQ(item(DIALOG, "oBtn", 144010).value("value", 0), 2) << "Interface shows its factory value";
}

TEST_F(SettingsDialog, CancelPutsBackEveryFieldIncludingAChangedLineStyle) {
    open();
    page(PAGE_STYLES_ROW);
    set(RTYPE_ListBox, rid::ITEM_STYLE_LIST, "3");
    EXPECT_EQ(s__globals.StyleRow, 3);
    set(RTYPE_Text, rid::ITEM_STYLE_FIELD, "2,2");
    EXPECT_STREQ(s__globals.LineStyle[3], "2,2");
    EXPECT_EQ(cell(rid::ITEM_STYLE_LIST, 3), "2,2");
    page(PAGE_BACKUP_ROW);
    press(RTYPE_ToggleButton, 144040);
    EXPECT_EQ(s__globals.Backup, 0);
    press(RTYPE_PushButton, 2);  // Cancel
    EXPECT_STREQ(s__globals.LineStyle[3], "10,4");
    EXPECT_EQ(s__globals.Backup, 1);

    // Closing the window is a cancel too; OK keeps the values.
    open();
    page(PAGE_BACKUP_ROW);
    press(RTYPE_ToggleButton, 144040);
    std::string error;
    ASSERT_TRUE(subhost::closeDialog(DIALOG, &error)) << error;
    EXPECT_EQ(s__globals.Backup, 1);
    open();
    page(PAGE_BACKUP_ROW);
    press(RTYPE_ToggleButton, 144040);
    press(RTYPE_PushButton, 1);  // OK
    EXPECT_EQ(s__globals.Backup, 0);
}

TEST_F(SettingsDialog, CancelPutsBackTheWholeRecordAfterEditsOnEveryKindOfPage) {
    const t_globals opened = s__globals;
    open();
    page(PAGE_WEIGHTS_ROW);
    set(RTYPE_ListBox, rid::ITEM_WEIGHT_LIST, "7");
    set(RTYPE_Text, rid::ITEM_WEIGHT_FIELD, "55");
    page(PAGE_STYLES_ROW);
    set(RTYPE_ListBox, rid::ITEM_STYLE_LIST, "1");
    set(RTYPE_Text, rid::ITEM_STYLE_FIELD, "3,3");
    page(PAGE_INTERFACE_ROW);
    set(RTYPE_OptionButton, 144010, "0");
    set(RTYPE_Text, 144022, "9");
    page(PAGE_SCRATCH_ROW);
    set(RTYPE_OptionButton, rid::ITEM_SCRATCH_OPTION, "2");
    set(RTYPE_Text, rid::ITEM_SCRATCH_DIR, "/nowhere");
    keyin("PXMEND SETTINGS AUTOSAVE");
    ASSERT_NE(std::memcmp(&opened, &s__globals, sizeof opened), 0);
    press(RTYPE_PushButton, 2);  // Cancel
    EXPECT_EQ(std::memcmp(&opened, &s__globals, sizeof opened), 0) << "every field as the dialog found it";
}

TEST_F(SettingsDialog, SaveTakesTheValueStillBeingTypedInAnyTextField) {
    open();
    MSDialog* dialog = pv_settingsDialog();
    ASSERT_NE(dialog, nullptr);
    // Typed into the focused field, not yet entered: Save takes it first.
    const auto type = [&](int id, const wchar_t* text) {
        MSValueDescr value;
        value.kind = MSValueDescr::String;
        ASSERT_EQ(mdlDialog_itemSetValue(&value, text, dialog, n_itemIndex(dialog, RTYPE_Text, id)), 0);
    };
    page(PAGE_WEIGHTS_ROW);
    set(RTYPE_ListBox, rid::ITEM_WEIGHT_LIST, "2");
    set(RTYPE_Text, rid::ITEM_WEIGHT_FIELD, "9");
    type(rid::ITEM_WEIGHT_FIELD, L"12");
    keyin("PXMEND SETTINGS SAVE");
    EXPECT_NE(readFile(settingsPath).find("\nLineWeight2=12\n"), std::string::npos);
    EXPECT_EQ(cell(rid::ITEM_WEIGHT_LIST, 2), "12");

    page(PAGE_STYLES_ROW);
    set(RTYPE_ListBox, rid::ITEM_STYLE_LIST, "5");
    set(RTYPE_Text, rid::ITEM_STYLE_FIELD, "5,5");
    type(rid::ITEM_STYLE_FIELD, L"7,1,7");
    keyin("PXMEND SETTINGS SAVE");
    EXPECT_NE(readFile(settingsPath).find("\nLineStyle5=7,1,7\n"), std::string::npos);

    page(PAGE_INTERFACE_ROW);
    set(RTYPE_Text, 144022, "4");  // Speckle Width
    type(144022, L"6");
    keyin("PXMEND SETTINGS SAVE");
    EXPECT_NE(readFile(settingsPath).find("\nDespeckleX=6\n"), std::string::npos);

    // Save as does not take the typed value: the field's last entered value is written.
    type(144022, L"8");
    const auto other = dir / "other.ini";
    subhost::queueFileAnswer(other.string());
    keyin("PXMEND SETTINGS SAVEAS");
    EXPECT_NE(readFile(other).find("\nDespeckleX=6\n"), std::string::npos);
}

TEST_F(SettingsDialog, WhatWasReadOrSavedIsWhatCancelPutsBack) {
    open();
    page(PAGE_BACKUP_ROW);
    press(RTYPE_ToggleButton, 144040);
    keyin("PXMEND SETTINGS SAVE");
    press(RTYPE_ToggleButton, 144041);
    press(RTYPE_PushButton, 2);  // Cancel
    EXPECT_EQ(s__globals.Backup, 0) << "saved before the cancel";
    EXPECT_EQ(s__globals.CropCopy, 0) << "changed after the save";

    const auto other = dir / "other.ini";
    std::ofstream(other) << "DespeckleX=17\n";
    open();
    subhost::queueFileAnswer(other.string());
    keyin("PXMEND SETTINGS OPEN");
    EXPECT_EQ(title(), "PixelMend Settings - " + other.string());
    page(PAGE_INTERFACE_ROW);
    EXPECT_EQ(item(DIALOG, "dTxt", 144022).value("value", 0), 17);
    press(RTYPE_PushButton, 2);  // Cancel
    EXPECT_EQ(s__globals.DespeckleX, 17);
}

TEST_F(SettingsDialog, OkAppliesTheDisableListAgainAndCancelDoesNot) {
    openDesign(false);
    const auto refusedAsDisabled = [&] {
        bool said = false;
        for (const auto& box : boxes(MSGBOX_NOTICE))
            said |= box.value("text", "") == "This command is disabled by your PXMEND_DISABLE variable.";
        return said;
    };
    subhost::setCfgVar("PXMEND_DISABLE", "copy");
    open();
    press(RTYPE_PushButton, 2);  // Cancel
    keyin("PXMEND COPY");
    EXPECT_FALSE(refusedAsDisabled()) << "cancel applies nothing";
    open();
    press(RTYPE_PushButton, 1);  // OK
    subhost::clearTranscript();
    keyin("PXMEND COPY");
    EXPECT_TRUE(refusedAsDisabled());
}

// Every key of the settings file is edited by an item on one of the dialog's pages.
TEST(SettingsPages, EveryOptionOfTheFileHasItsItemOnAPage) {
    const rsc::File* resources = MdlResources();
    std::set<std::string> bound;
    std::set<long> pageIds;
    for (const auto& list : resources->stringLists)
        if (list.id == rid::STRINGS_SETTINGS_PAGES)
            for (const auto& member : list.members) pageIds.insert(member.info[1]);
    for (const auto& page : resources->itemLists) {
        if (!pageIds.count(page.id)) continue;
        for (const auto& item : page.items) {
            if (item.access && *item.access) bound.insert(item.access);
            if (item.hookId == rid::HOOK_WEIGHT_FIELD) bound.insert("s__globals.LineWeight");
            if (item.hookId == rid::HOOK_STYLE_FIELD) bound.insert("s__globals.LineStyle");
        }
    }
    t_globals record{};
    std::istringstream lines(s_settingsText(record, ""));
    int keys = 0;
    for (std::string line; std::getline(lines, line);) {
        std::string key = line.substr(0, line.find('='));
        if (key == "Date created") continue;
        for (const char* listed : {"LineWeight", "LineStyle"})
            if (key.rfind(listed, 0) == 0) key = listed;
        ++keys;
        EXPECT_TRUE(bound.count("s__globals." + key)) << key << " has no item on a page";
    }
    EXPECT_GT(keys, 60);
}

TEST_F(SettingsDialog, SamePageAgainIsNotReloaded) {
    open();
    page(PAGE_WEIGHTS_ROW);
    set(RTYPE_ListBox, rid::ITEM_WEIGHT_LIST, "5");
    EXPECT_EQ(s__globals.WeightRow, 5);
    page(PAGE_WEIGHTS_ROW);
    EXPECT_EQ(s__globals.WeightRow, 5) << "a reloaded list starts at row 0";
    page(PAGE_STYLES_ROW);
    page(PAGE_WEIGHTS_ROW);
    EXPECT_EQ(s__globals.WeightRow, 0);
}

TEST_F(SettingsDialog, ListsShowEveryWeightAndStyleWithTheRowNumber) {
    open();
    using List = std::tuple<int, int, std::size_t, std::string>;  // page row, list id, rows, last value
    for (const auto& [pageRow, listId, rowCount, last] : {List{PAGE_WEIGHTS_ROW, rid::ITEM_WEIGHT_LIST, 32, "32"},
                                                          List{PAGE_STYLES_ROW, rid::ITEM_STYLE_LIST, 8, "9,4,3,4"}}) {
        page(pageRow);
        const auto rows = item(DIALOG, "lBox", listId).value("rows", nlohmann::json::array());
        ASSERT_EQ(rows.size(), rowCount);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            ASSERT_EQ(rows[row].size(), 2u);
            EXPECT_EQ(rows[row][0].get<std::string>(), std::to_string(row));
        }
        EXPECT_EQ(rows.back()[1].get<std::string>(), last);
    }
}

TEST_F(SettingsDialog, WeightsOutsideOneToHundredShowTheStoredWeight) {
    open();
    page(PAGE_WEIGHTS_ROW);
    set(RTYPE_ListBox, rid::ITEM_WEIGHT_LIST, "4");
    EXPECT_EQ(item(DIALOG, "dTxt", rid::ITEM_WEIGHT_FIELD).value("value", ""), "5");
    for (const char* refused : {"0", "101", "-3", "abc"}) {
        set(RTYPE_Text, rid::ITEM_WEIGHT_FIELD, refused);
        EXPECT_EQ(cell(rid::ITEM_WEIGHT_LIST, 4), "5") << refused;
        EXPECT_EQ(s__globals.LineWeight[4], 5) << refused;
    }
    set(RTYPE_Text, rid::ITEM_WEIGHT_FIELD, "100");
    EXPECT_EQ(cell(rid::ITEM_WEIGHT_LIST, 4), "100");
    EXPECT_EQ(s__globals.LineWeight[4], 100);
    EXPECT_EQ(cell(rid::ITEM_WEIGHT_LIST, 3), "4") << "other rows keep theirs";
    EXPECT_STREQ(s__globals.PageName, "settingsStampLineWeights");
}

TEST_F(SettingsDialog, SaveAsMovesTheTitleAndALaterSaveWritesTheNewFile) {
    open();
    const std::string original = readFile(settingsPath);
    const auto other = dir / "other.ini";
    subhost::queueFileAnswer(other.string());
    keyin("PXMEND SETTINGS SAVEAS");
    EXPECT_EQ(title(), "PixelMend Settings - " + other.string());
    page(PAGE_INTERFACE_ROW);
    set(RTYPE_Text, 144022, "7");  // Speckle Width
    keyin("PXMEND SETTINGS SAVE");
    EXPECT_NE(readFile(other).find("\nDespeckleX=7\n"), std::string::npos);
    EXPECT_EQ(readFile(settingsPath), original) << "the first file is no longer the one saved";
}

TEST_F(SettingsDialog, FactoryDefaultsRefreshEveryItemAndLeaveTheFile) {
    writeSettings("LineWeight0=9\nBackup=0\n");
    subhost::queueFileAnswer(settingsPath.string());
    keyin("PXMEND SETTINGS OPEN");
    EXPECT_EQ(s__globals.LineWeight[0], 9);
    open();
    page(PAGE_WEIGHTS_ROW);
    set(RTYPE_Text, rid::ITEM_WEIGHT_FIELD, "42");
    const std::string before = readFile(settingsPath);

    subhost::queueAnswer(ACTIONBUTTON_CANCEL);
    keyin("PXMEND SETTINGS DEFAULTS");
    EXPECT_EQ(s__globals.LineWeight[0], 42);

    subhost::queueAnswer(ACTIONBUTTON_OK);
    keyin("PXMEND SETTINGS DEFAULTS");
    EXPECT_EQ(s__globals.LineWeight[0], 1);
    EXPECT_EQ(cell(rid::ITEM_WEIGHT_LIST, 0), "1");
    EXPECT_EQ(item(DIALOG, "dTxt", rid::ITEM_WEIGHT_FIELD).value("value", ""), "1");
    EXPECT_EQ(readFile(settingsPath), before);
    const auto confirm = boxes(MSGBOX_CONFIRM);
    ASSERT_EQ(confirm.size(), 2u);
    EXPECT_EQ(confirm[0].value("text", ""),
              "Are you sure you want to reload the factory defaults?\n\nNote: This will clear all of your changes to "
              "the options.");
    EXPECT_EQ(confirm[0].value("icon", 0), 3);
}

TEST_F(SettingsDialog, HelpButtonOpensThePageShownAndNothingBeforeAPage) {
    std::filesystem::create_directories(dir / "bin");
    std::ofstream(dir / "bin" / "Pxmendv8.pdf") << "%PDF-1.5\n";
    open();
    press(RTYPE_PushButton, 3);
    EXPECT_TRUE(events("help").empty());
    page(PAGE_BACKUP_ROW);
    press(RTYPE_PushButton, 3);
    ASSERT_EQ(events("help").size(), 1u);
    EXPECT_EQ(events("help")[0].value("destination", ""), "settingsBackup");
    EXPECT_EQ(subhost::dumpItems(DIALOG).value("error", ""), "") << "help leaves the dialog open";
}

TEST_F(SettingsDialog, ScratchFolderOptionBrowseAndOkCheck) {
    open();
    page(PAGE_SCRATCH_ROW);
    EXPECT_FALSE(enabled(DIALOG, "dTxt", rid::ITEM_SCRATCH_DIR));
    EXPECT_FALSE(enabled(DIALOG, "pBtn", rid::ITEM_SCRATCH_BROWSE));
    set(RTYPE_OptionButton, rid::ITEM_SCRATCH_OPTION, "2");
    EXPECT_TRUE(enabled(DIALOG, "dTxt", rid::ITEM_SCRATCH_DIR));
    std::filesystem::create_directories(dir / "scratch");
    subhost::queueFileAnswer((dir / "scratch").string() + "/");
    press(RTYPE_PushButton, rid::ITEM_SCRATCH_BROWSE);
    EXPECT_EQ(std::string(s__globals.ScratchDir), (dir / "scratch").string());
    bool chooserTitled = false;
    for (const auto& e : events("dialog"))
        chooserTitled |= e.value("id", 0) == rid::DIALOG_DIRECTORY && e.value("title", "") == "Select folder";
    EXPECT_TRUE(chooserTitled) << "the browse button's chooser is titled \"Select folder\"";
    EXPECT_EQ(item(DIALOG, "dTxt", rid::ITEM_SCRATCH_DIR).value("value", ""), (dir / "scratch").string());
    subhost::queueFileAnswer(std::nullopt);
    press(RTYPE_PushButton, rid::ITEM_SCRATCH_BROWSE);
    EXPECT_EQ(std::string(s__globals.ScratchDir), (dir / "scratch").string()) << "cancel keeps the folder";
    subhost::queueFileAnswer("/");
    press(RTYPE_PushButton, rid::ITEM_SCRATCH_BROWSE);
    EXPECT_EQ(std::string(s__globals.ScratchDir), "/");

    // OK with a folder that cannot be used keeps the dialog open.
    set(RTYPE_Text, rid::ITEM_SCRATCH_DIR, (dir / "gone").string());
    press(RTYPE_PushButton, 1);
    EXPECT_EQ(subhost::dumpItems(DIALOG).value("error", ""), "");
    EXPECT_NE(boxes(MSGBOX_NOTICE).back().value("text", "").find((dir / "gone").string()), std::string::npos);
    set(RTYPE_Text, rid::ITEM_SCRATCH_DIR, (dir / "scratch").string());
    press(RTYPE_PushButton, 1);
    EXPECT_NE(subhost::dumpItems(DIALOG).value("error", ""), "");
}

TEST(DirectoryChooser, StartAndResultFolders) {
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(s_directoryStart(""), cwd + "/");
    EXPECT_EQ(s_directoryStart("/"), "/");
    EXPECT_EQ(s_directoryResult("/tmp/a/"), "/tmp/a");
    EXPECT_EQ(s_directoryResult("/"), "/");
    EXPECT_EQ(s_directoryResult("//"), "/");
}

TEST_F(SettingsDialog, UnlistableFolderStartsInMsdir) {
    subhost::setCfgVar("MSDIR", dir.string());
    EXPECT_EQ(s_directoryStart((dir / "missing").string().c_str()), dir.string() + "/");
}

TEST_F(SettingsDialog, HostileSettingsFileAndOverlongPathLoseNothing) {
    open();
    page(PAGE_WEIGHTS_ROW);
    const t_globals before = s__globals;
    // A megabyte of garbage, with lines and equals signs among it.
    std::mt19937 random(7);
    std::string garbage(1 << 20, '\0');
    for (char& c : garbage) c = static_cast<char>(random() % 7 == 0 ? '\n' : random() % 5 == 0 ? '=' : random());
    const auto bad = dir / "garbage.ini";
    std::ofstream(bad, std::ios::binary) << garbage;
    subhost::queueFileAnswer(bad.string());
    keyin("PXMEND SETTINGS OPEN");
    EXPECT_EQ(std::memcmp(before.LineWeight, s__globals.LineWeight, sizeof before.LineWeight), 0);
    EXPECT_EQ(title(), "PixelMend Settings - " + bad.string()) << "the file was read: it becomes the one in use";

    // A 300-character path cannot be chosen: the chooser counts it as cancelled, nothing changes.
    const std::string longPath = "/tmp/" + std::string(295, 'x');
    subhost::queueFileAnswer(longPath);
    keyin("PXMEND SETTINGS SAVEAS");
    EXPECT_EQ(title(), "PixelMend Settings - " + bad.string());
    std::error_code ignored;
    EXPECT_FALSE(std::filesystem::exists(longPath, ignored));
}

// The add-on's resources with one more page whose item list does not exist.
const rsc::File* resourcesWithMissingPage() {
    static std::vector<rsc::StringListMember> members;
    static std::vector<rsc::StringList> lists;
    static rsc::File file;
    file = *MdlResources();
    lists.assign(file.stringLists.begin(), file.stringLists.end());
    for (auto& list : lists) {
        if (list.id != rid::STRINGS_SETTINGS_PAGES) continue;
        members.assign(list.members.begin(), list.members.end());
        members.push_back({"Missing", {0, 999999, 0, 0}});
        list.members = members;
    }
    file.stringLists = lists;
    return &file;
}

TEST_F(FrameTest, PageWhoseItemsAreMissingIsRefusedClearly) {
    std::string error;
    ASSERT_TRUE(subhost::loadLinkedApplication(&MdlMain, &resourcesWithMissingPage,
                                               (dir / "bin" / "pxmend.so").string(), "KEYIN", &error))
        << error;
    keyin("PXMEND SETTINGS DIALOG");
    ASSERT_TRUE(subhost::itemSet(DIALOG, RTYPE_ListBox, rid::ITEM_SETTINGS_PAGES, "7", &error)) << error;
    ASSERT_EQ(boxes(MSGBOX_NOTICE).size(), 1u);
    EXPECT_EQ(boxes(MSGBOX_NOTICE)[0].value("text", ""),
              "The settings page 999999 cannot be shown: its items are missing.");
    ASSERT_TRUE(subhost::itemSet(DIALOG, RTYPE_ListBox, rid::ITEM_SETTINGS_PAGES, "2", &error)) << error;
    EXPECT_STREQ(s__globals.PageName, "settingsBackup");
}

}  // namespace
