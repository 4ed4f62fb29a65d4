// Commands: key-ins reach their command numbers, the gate refuses read-only models
// and disabled commands, PXMEND_DISABLE parsing, the non-editing commands.
#include "frame_fixture.h"
#include "host/mdldialog.h"

namespace {

class Commands : public FrameTest {
protected:
    void start(const char* disable = nullptr, bool readOnly = false) {
        writeSettings("FirstRunUnderV10=0\nDontShowV8iWarning=1\n");
        if (disable) subhost::setCfgVar("PXMEND_DISABLE", disable);
        openDesign(readOnly);
        load();
        subhost::clearTranscript();
    }

    std::vector<int> disabledSlots() {
        std::vector<int> slots;
        for (int slot = 0; slot < 16; ++slot)
            if (b_commandDisabled(slot)) slots.push_back(slot);
        return slots;
    }
};

constexpr const char* READ_ONLY_TEXT =
    "Active model is read-only. It is impossible for PixelMend to modify rasters in this model.";
constexpr const char* DISABLED_TEXT = "This command is disabled by your PXMEND_DISABLE variable.";

// ---- PXMEND_DISABLE ----

// Names in any case, cut at commas: a space before a comma belongs to the name, empty and unknown pieces are
// skipped, "scratch" stands for attach and detach, and only the first 255 characters count.
struct DisableCase {
    const char* value;  // nullptr: the variable is not defined
    std::vector<int> slots;
};

const std::string kOverlongDisable = std::string(5000, ' ') + ",copy";

class DisableParsing : public Commands, public ::testing::WithParamInterface<DisableCase> {};

TEST_P(DisableParsing, GivesTheDisabledSlots) {
    start(GetParam().value);
    EXPECT_EQ(disabledSlots(), GetParam().slots);
}

INSTANTIATE_TEST_SUITE_P(Commands, DisableParsing,
                         ::testing::Values(DisableCase{nullptr, {}}, DisableCase{"Copy, MOVE", {1, 2}},
                                           DisableCase{"copy ,move", {2}},
                                           DisableCase{",,\t despeckle,,bogus,resize", {7, 9}},
                                           DisableCase{"scratch", {11, 12}},
                                           DisableCase{kOverlongDisable.c_str(), {}}));

TEST_F(Commands, DisableGreysToolBoxChildrenAndMenuItems) {
    start("edit,copy");
    EXPECT_FALSE(enabled("2", "icmd", 0));  // copy
    EXPECT_TRUE(enabled("2", "icmd", 1));   // move
    EXPECT_FALSE(enabled("2", "icmd", 9));  // edit
}

// ---- The gate ----

TEST_F(Commands, DisabledCommandRefused) {
    start("delete");
    keyin("PXMEND DELETE");
    const auto shown = events("messageBox");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["dialog"], -97);
    EXPECT_EQ(shown[0]["icon"], 4);
    EXPECT_EQ(shown[0]["text"], DISABLED_TEXT);
    EXPECT_EQ(activeCommand(), CMD_NONE);
}

TEST_F(Commands, ReadOnlyModelReportedBeforeDisabledCommand) {
    start("delete", true);
    keyin("PXMEND DELETE");
    const auto shown = events("messageBox");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["text"], READ_ONLY_TEXT);
}

TEST_F(Commands, GateOnlyCommandUsesSlot14) {
    start();
    v_commandSlotDisable(14);
    keyin("PXMEND GATE");
    ASSERT_EQ(boxes(-97).size(), 1u);
    EXPECT_EQ(boxes(-97)[0]["text"], DISABLED_TEXT);
}

TEST_F(Commands, PassedGateSetsCommandAndPrompt) {
    start();
    struct Case {
        const char* keyin;
        int active, prompt;
        const char* name;
    };
    const Case cases[] = {
        {"PXMEND COPY", 1, 23, "Copy Raster Block"},
        {"PXMEND MOVE", 2, 23, "Move Raster Block"},
        {"PXMEND DELETE", 3, 25, "Delete Raster Block"},
        {"PXMEND STAMP", 5, 26, "Stamp Elements"},
        {"PXMEND CROP", 4, 25, "Crop Raster"},
        {"PXMEND DESKEW", 6, 26, "Deskew Raster"},
        {"PXMEND DESPECKLE", 7, 25, "Despeckle Raster"},
        {"PXMEND BRUSH", 8, 26, "Raster Brush"},
        {"PXMEND RESIZE", 9, 26, "Resize Raster Canvas"},
        {"PXMEND EDIT", 15, 26, "Edit Raster Externally"},
        {"pxmend scratch attach", 11, 27, "Attach Scratch Area"},
    };
    for (const Case& c : cases) {
        subhost::clearTranscript();
        keyin(c.keyin);
        EXPECT_EQ(activeCommand(), c.active) << c.keyin;
        EXPECT_EQ(n_promptId(), c.prompt) << c.keyin;
        const auto shown = boxes(-97);
        ASSERT_EQ(shown.size(), 1u) << c.keyin;
        // The gate let the command through to its area or raster choice, which finds no raster.
        EXPECT_EQ(shown[0]["text"], "The active model doesn't contain any raster reference attachments.") << c.name;
        EXPECT_EQ(shown[0]["icon"], 4);
    }
}

TEST_F(Commands, ScratchDetachKeepsPrompt) {
    start();
    keyin("PXMEND COPY");
    keyin("PXMEND SCRATCH DETACH");
    EXPECT_EQ(activeCommand(), CMD_SCRATCH_DETACH);
    EXPECT_EQ(n_promptId(), 23);
}

TEST_F(Commands, ResizeClearsAmounts) {
    start();
    s__globals.ResizeRowsEnd = 5;
    s__globals.ResizeColumnsStart = -3;
    std::snprintf(s__globals.ResizeNewSizeText, sizeof s__globals.ResizeNewSizeText, "10 x 10");
    keyin("PXMEND RESIZE");
    EXPECT_EQ(s__globals.ResizeRowsEnd, 0);
    EXPECT_EQ(s__globals.ResizeColumnsStart, 0);
    EXPECT_STREQ(s__globals.ResizeNewSizeText, "");
}

TEST_F(Commands, HelpTopicFollowsCommandsOnlyWithToolSettingsOpen) {
    start();
    keyin("PXMEND DESKEW");
    EXPECT_STREQ(s__globals.HelpTopic, "");
    subhost::toolSettings(true);
    keyin("PXMEND DESPECKLE");
    EXPECT_STREQ(s__globals.HelpTopic, "despeckle");
    keyin("PXMEND SCRATCH ATTACH");
    EXPECT_STREQ(s__globals.HelpTopic, "scratch");
}

// ---- Non-editing commands ----

TEST_F(Commands, RasterToolsSendsHostKeyin) {
    start();
    keyin("PXMEND RASTERTOOLS");
    const auto sent = events("keyin");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["keyin"], "dialog toolbox 113 rastmgr");
}

TEST_F(Commands, EveryKeyinReachesARegisteredCommand) {
    start();
    // The settings commands ask for files and confirmation: every question is declined.
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    subhost::setCfgVar("PXMEND_PDF_VIEWER", std::string("none"));
    const char* keyins[] = {"PXMEND COPY",
                            "PXMEND MOVE",
                            "PXMEND DELETE",
                            "PXMEND STAMP",
                            "PXMEND CROP",
                            "PXMEND DESKEW",
                            "PXMEND DESPECKLE",
                            "PXMEND BRUSH",
                            "PXMEND RESIZE",
                            "PXMEND RESIZE APPLY",
                            "PXMEND RESIZE CANCEL",
                            "PXMEND EDIT",
                            "PXMEND SCRATCH ATTACH",
                            "PXMEND SCRATCH DETACH",
                            "PXMEND RASTERTOOLS",
                            "PXMEND TOOLBOX",
                            "PXMEND SETTINGS OPEN",
                            "PXMEND SETTINGS SAVE",
                            "PXMEND SETTINGS SAVEAS",
                            "PXMEND SETTINGS AUTOSAVE",
                            "PXMEND SETTINGS DEFAULTS",
                            "PXMEND SETTINGS DIALOG",
                            "PXMEND HELP ABOUT",
                            "PXMEND HELP TOPIC copy",
                            "PXMEND GATE",
                            "pxm desp",
                            "PXMEND DES"};
    for (const char* text : keyins) keyin(text);
    // "DES" is ambiguous (deskew, despeckle): the only key-in without a command.
    const auto unknown = events("commandUnknown");
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0]["argument"], "DES");
    EXPECT_TRUE(events("keyinUnknown").empty());
}

}  // namespace
