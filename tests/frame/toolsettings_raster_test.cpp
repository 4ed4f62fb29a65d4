// The tool settings' canvas colour items follow the raster being edited.
#include "frame/dialogs.h"
#include "frame_fixture.h"
#include "raster/context.h"
#include "raster/target.h"
#include "subhost/imagefile/imagefile.h"

namespace {

namespace img = subhost::imagefile;

class ToolSettingsRaster : public FrameTest {
protected:
    // Opens a design with a palette PNG and an RGB PNG attached, loads the add-on and starts delete.
    void SetUp() override {
        FrameTest::SetUp();
        img::Image palette = img::makeImage(8, 8, img::ColorMode::Palette8).image;
        palette.paletteCount = 4;
        palette.palette[2] = {10, 20, 30};
        ASSERT_EQ(img::createImageFile((dir / "p.png").string(), img::FileFormat::Png, palette).status, 0);
        ASSERT_EQ(img::createImageFile((dir / "c.png").string(), img::FileFormat::Png,
                                       img::makeImage(8, 8, img::ColorMode::Rgb).image)
                      .status,
                  0);
        std::ofstream(dir / "d.json") << R"({"views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [100, 100, 0]}],
                                            "rasters": [{"file": "p.png"}, {"file": "c.png", "origin": [50, 0, 0]}]})";
        std::string error;
        ASSERT_TRUE(subhost::openDesign((dir / "d.json").string(), &error)) << error;
        load();
        subhost::toolSettings(true);
        keyin("PXMEND DELETE");
        const DgnRasterCollection rasters = DgnRasterCollection::GetRasters(nullptr);
        auto it = rasters.begin();
        paletteRaster = it.GetCurrent();
        it.MoveToNext();
        rgbRaster = it.GetCurrent();
        ASSERT_NE(rgbRaster, nullptr);
    }
    void refreshFor(DgnRasterP raster) {
        v_commandRasterSelect(raster, nullptr);
        v_toolSettingsRefresh();
    }
    DgnRasterP paletteRaster = nullptr;
    DgnRasterP rgbRaster = nullptr;
};

TEST_F(ToolSettingsRaster, PaletteRasterShowsThePickerWithItsColours) {
    s__globals.CanvasAuto = 0;
    refreshFor(paletteRaster);
    EXPECT_TRUE(shown("toolsettings", "cPck", 1));
    EXPECT_FALSE(shown("toolsettings", "gnrc", 3));
    EXPECT_TRUE(enabled("toolsettings", "oBtn", 11));
    const nlohmann::json picker = item("toolsettings", "cPck", 1);
    EXPECT_GT(picker.value("palette", 0), 0);
}

TEST_F(ToolSettingsRaster, RgbRasterShowsTheSwatchInstead) {
    s__globals.CanvasAuto = 0;
    refreshFor(rgbRaster);
    EXPECT_FALSE(shown("toolsettings", "cPck", 1));
    EXPECT_TRUE(shown("toolsettings", "gnrc", 3));
}

TEST_F(ToolSettingsRaster, AutomaticCanvasHidesBothButKeepsTheOption) {
    s__globals.CanvasAuto = 1;
    refreshFor(paletteRaster);
    EXPECT_FALSE(shown("toolsettings", "cPck", 1));
    EXPECT_FALSE(shown("toolsettings", "gnrc", 3));
    EXPECT_TRUE(enabled("toolsettings", "oBtn", 11));
}

TEST_F(ToolSettingsRaster, DeleteByClipMaskDisablesTheColourOption) {
    s__globals.CanvasAuto = 0;
    s__globals.MaskMethod = 0;
    refreshFor(paletteRaster);
    EXPECT_FALSE(enabled("toolsettings", "oBtn", 11));
    EXPECT_FALSE(shown("toolsettings", "cPck", 1));
}

// Closing the design drops every raster record, also the one the command had selected.
TEST_F(ToolSettingsRaster, ClosingDesignDropsRasterRecords) {
    RasterTarget* target = pv_rasterTargetLoad(paletteRaster, true, false);
    ASSERT_NE(target, nullptr);
    v_commandRasterSelect(paletteRaster, target);
    ASSERT_EQ(pv_rasterTargetFind(paletteRaster), target);
    openDesign(false);  // closes the design of the fixture
    EXPECT_EQ(pv_rasterTargetFind(paletteRaster), nullptr);
    EXPECT_EQ(currentTarget(), nullptr);
}

}  // namespace
