// Dialog hooks of the tool settings driven through the host's items, and the
// shared dialog services (colour chooser, completion bar).
#include <cmath>

#include "frame/dialogs.h"
#include "frame_fixture.h"

namespace {

class Hooks : public FrameTest {
protected:
    // Loads the add-on with the tool settings window open and starts command keyin, so that
    // the window shows that command's items.
    void start(const char* command) {
        writeSettings("FirstRunUnderV10=0\nDontShowV8iWarning=1\n");
        openDesign(false);
        load();
        subhost::toolSettings(true);
        keyin(command);
        subhost::clearTranscript();
    }

    void set(const char* type, int id, const std::string& value) {
        std::string error;
        ASSERT_TRUE(subhost::itemSet("toolsettings", fourCc(type), id, value, &error)) << error;
    }

    void press(const char* type, int id) {
        std::string error;
        ASSERT_TRUE(subhost::itemPress("toolsettings", fourCc(type), id, &error)) << error;
    }

    static std::uint32_t fourCc(const char* type) {
        return (std::uint32_t(std::uint8_t(type[0])) << 24) | (std::uint32_t(std::uint8_t(type[1])) << 16) |
               (std::uint32_t(std::uint8_t(type[2])) << 8) | std::uint32_t(std::uint8_t(type[3]));
    }

    bool on(const char* type, int id) { return enabled("toolsettings", type, id); }
    bool visible(const char* type, int id) { return shown("toolsettings", type, id); }
};

// ---- Scale fields and their lock ----

TEST_F(Hooks, LockedScaleCopiesEitherFieldUnlockedScalesStayApart) {
    start("PXMEND COPY");
    ASSERT_EQ(s__globals.ScaleLock, 1);
    set("dTxt", 1, "2");
    EXPECT_EQ(s__globals.ScaleX, 2.0);
    EXPECT_EQ(s__globals.ScaleY, 2.0);
    set("dTxt", 2, "0.5");
    EXPECT_EQ(s__globals.ScaleX, 0.5);
    EXPECT_EQ(s__globals.ScaleY, 0.5);
    s__globals.ScaleLock = 0;
    set("dTxt", 1, "3");
    EXPECT_EQ(s__globals.ScaleX, 3.0);
    EXPECT_EQ(s__globals.ScaleY, 0.5);
}

// The drawing calls recorded for an item, by kind.
std::vector<nlohmann::json> drawn(const nlohmann::json& item, const std::string& kind) {
    std::vector<nlohmann::json> found;
    for (const auto& call : item.value("drawing", nlohmann::json::array()))
        if (call.value("kind", "") == kind) found.push_back(call);
    return found;
}

TEST_F(Hooks, LockItemTogglesLockAndIconBesideABracket) {
    start("PXMEND COPY");
    press("gnrc", 2);
    EXPECT_EQ(s__globals.ScaleLock, 0);
    auto icons = drawn(item("toolsettings", "gnrc", 2), "icon");
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0]["icon"], 31);
    const auto lines = drawn(item("toolsettings", "gnrc", 2), "line");
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
        EXPECT_EQ(line["color"], 0);
        EXPECT_EQ(line["style"], 0);
    }
    // From the top-left corner: 9 to the left, 3 down; the same 23 lower, 4 up.
    const auto& top = lines[0]["points"];
    const int x = top[0][0], y = top[0][1];
    EXPECT_EQ(top[1], nlohmann::json({x - 9, y}));
    EXPECT_EQ(lines[1]["points"][1], nlohmann::json({x, y + 3}));
    EXPECT_EQ(lines[3]["points"][0], nlohmann::json({x, y + 23}));
    EXPECT_EQ(lines[3]["points"][1], nlohmann::json({x, y + 19}));

    press("gnrc", 2);
    EXPECT_EQ(s__globals.ScaleLock, 1);
    icons = drawn(item("toolsettings", "gnrc", 2), "icon");
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0]["icon"], 32);
}

// ---- Copy/move options, area mode and mask method keep hybrid mode consistent ----

TEST_F(Hooks, HybridOptionsFollowModeAndMethod) {
    start("PXMEND COPY");
    ASSERT_EQ(s__globals.ModifyMode, 1);
    ASSERT_EQ(s__globals.MaskMethod, 1);
    EXPECT_FALSE(on("oBtn", 2));
    set("oBtn", 1, "0");  // fence mode allows hybrid mode
    EXPECT_TRUE(on("oBtn", 2));
    EXPECT_FALSE(on("oBtn", -102));
    set("oBtn", 2, "1");
    EXPECT_EQ(s__globals.HybridMode, 1);
    EXPECT_TRUE(on("oBtn", 2));
    EXPECT_TRUE(on("oBtn", -102));
    set("oBtn", 1, "1");  // block mode: no hybrid
    EXPECT_EQ(s__globals.ModifyMode, 1);
    EXPECT_EQ(s__globals.HybridMode, 0);
    EXPECT_FALSE(on("oBtn", 2));
    EXPECT_FALSE(on("oBtn", -102));
}

TEST_F(Hooks, AreaModeChangeRestartsCommand) {
    start("PXMEND MOVE");
    set("oBtn", 1, "2");
    const auto shown = boxes(-97);
    ASSERT_EQ(shown.size(), 1u);
    // The restarted command looks for rasters again and finds none.
    EXPECT_EQ(shown[0]["text"], "The active model doesn't contain any raster reference attachments.");
}

TEST_F(Hooks, ClipMaskMethodClearsHybridModeFillMethodKeepsIt) {
    start("PXMEND DELETE");
    s__globals.ModifyMode = 0;
    s__globals.HybridMode = 1;
    set("oBtn", 12, "0");
    EXPECT_EQ(s__globals.MaskMethod, 0);
    EXPECT_EQ(s__globals.HybridMode, 0);
    s__globals.HybridMode = 1;
    set("oBtn", 12, "1");
    EXPECT_EQ(s__globals.MaskMethod, 1);
    EXPECT_EQ(s__globals.HybridMode, 1);
}

// ---- New file and enlarge destination exclude each other ----

TEST_F(Hooks, NewFileAndEnlargeAreExclusive) {
    start("PXMEND COPY");
    ASSERT_EQ(s__globals.ResizeDestination, 1);
    set("tgBt", 2, "1");
    EXPECT_EQ(s__globals.CreateNewFile, 1);
    EXPECT_EQ(s__globals.ResizeDestination, 0);
    set("tgBt", 4, "1");
    EXPECT_EQ(s__globals.ResizeDestination, 1);
    EXPECT_EQ(s__globals.CreateNewFile, 0);
    set("tgBt", 4, "0");
    EXPECT_EQ(s__globals.ResizeDestination, 0);
    EXPECT_EQ(s__globals.CreateNewFile, 0);
}

// ---- Canvas colour ----

TEST_F(Hooks, SwatchChoosesCanvasColourAndACancelKeepsIt) {
    start("PXMEND BRUSH");
    s__globals.CanvasColor = CanvasRgb{1, 2, 3};
    subhost::queueColorAnswer(std::nullopt);
    press("gnrc", 3);
    EXPECT_EQ(s__globals.CanvasColor.red, 1);
    EXPECT_EQ(s__globals.CanvasColor.green, 2);
    EXPECT_EQ(s__globals.CanvasColor.blue, 3);
    subhost::queueColorAnswer(std::array<std::uint8_t, 3>{10, 20, 30});
    press("gnrc", 3);
    EXPECT_EQ(s__globals.CanvasColor.red, 10);
    EXPECT_EQ(s__globals.CanvasColor.green, 20);
    EXPECT_EQ(s__globals.CanvasColor.blue, 30);
    const auto swatch = item("toolsettings", "gnrc", 3);
    ASSERT_EQ(drawn(swatch, "rectFill").size(), 1u);
    EXPECT_EQ(drawn(swatch, "rectFill")[0]["rgb"], nlohmann::json({10, 20, 30}));
    EXPECT_EQ(drawn(swatch, "bevel").size(), 1u);
    const auto chooser = events("colorChooser");
    ASSERT_EQ(chooser.size(), 2u);
    EXPECT_EQ(chooser[1]["start"], nlohmann::json({1, 2, 3}));
    EXPECT_EQ(chooser[1]["flags"], 3);
}

TEST_F(Hooks, ColourOptionWithoutRasterHidesColourItems) {
    start("PXMEND DELETE");
    ASSERT_TRUE(visible("gnrc", 3));
    set("oBtn", 11, "0");
    EXPECT_EQ(s__globals.CanvasAuto, 0);
    EXPECT_FALSE(visible("cPck", 1));
    EXPECT_FALSE(visible("gnrc", 3));
    EXPECT_FALSE(on("oBtn", 11));
}

// ---- Deskew angle and resize apply ----

// The angle is typed in the "Enter manually" mode (the field is off in the others).
TEST_F(Hooks, DeskewAngleEnablesItsButton) {
    writeSettings("FirstRunUnderV10=0\nDontShowV8iWarning=1\nDeskewMode=2\n");
    openDesign(false);
    load();
    subhost::toolSettings(true);
    keyin("PXMEND DESKEW");
    set("dTxt", 9, "1.5");
    EXPECT_EQ(s__globals.DeskewAngle, 1.5);
    EXPECT_TRUE(on("pBtn", -3));
    set("dTxt", 9, "0");
    EXPECT_EQ(s__globals.DeskewAngle, 0.0);
    EXPECT_FALSE(on("pBtn", -3));
}

TEST_F(Hooks, ResizeApplyNeedsARaster) {
    start("PXMEND RESIZE");
    set("dTxt", 11, "10");
    EXPECT_EQ(s__globals.ResizeRowsEnd, 10);
    EXPECT_FALSE(on("pBtn", 1));
}

// ---- Shared services ----

TEST_F(FrameTest, CompletionBarOnlyWhileOpen) {
    load();
    subhost::clearTranscript();
    v_progressUpdate("ignored", 10);
    v_progressClose();
    EXPECT_TRUE(events("completionBar").empty());
    v_progressOpen("Stamping");
    v_progressUpdate("Elements", 42.9);
    v_progressUpdate("Elements", std::nan(""));
    v_progressClose();
    v_progressClose();
    const auto bar = events("completionBar");
    ASSERT_EQ(bar.size(), 4u);
    EXPECT_EQ(bar[0]["title"], "Stamping");
    EXPECT_EQ(bar[1]["percent"], 42);
    EXPECT_EQ(bar[2]["percent"], 0);
    EXPECT_EQ(bar[3]["action"], "close");
}

}  // namespace
