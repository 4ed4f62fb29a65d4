// Every element kind of the design description: what is refused (with the
// element and the reason), what a save writes back, the header word, ranges,
// descriptor chains and components, and the element queries.
#include <gtest/gtest.h>

#include <string>

#include "host/mdlelement.h"
#include "host/mdlraster.h"
#include "host/mdlsystem.h"
#include "subhost/elements.h"
#include "subhost/host.h"

namespace {

using nlohmann::json;
using subhost::elements::elementState;

json square(double x, double y, double side) {
    return {{"type", "shape"}, {"points", {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}}}};
}

json withId(json element, int id) {
    element["id"] = id;
    return element;
}

// A design of one element of each kind.
json everyKind() {
    json cell = {{"type", "cell"},
                 {"name", "FRAME"},
                 {"groupedHole", true},
                 {"components", {square(0, 0, 10), square(2, 2, 2)}},
                 {"pattern", {{"angle", 45}, {"spacing", 1}}}};
    cell["components"][0]["filled"] = true;
    cell["components"][1]["hole"] = true;
    return {
        {"sharedCells", {{"DOOR", {{"origin", {0, 0}}, {"components", {square(0, 0, 1)}}}}}},
        {"lineStyles", {{{"code", 9}, {"name", "fence"}, {"dashes", {2, 1}}, {"width", 0.5}}}},
        {"elements",
         {withId(cell, 1),
          withId({{"type", "text"}, {"origin", {20, 0}}, {"text", "AB"}, {"height", 3}, {"font", "DejaVu Sans"}}, 2),
          withId({{"type", "textNode"}, {"origin", {20, 10}}, {"lines", {"one", "two"}}, {"height", 2}}, 3),
          withId({{"type", "dimension"}, {"points", {{0, 20}, {10, 20}}}, {"offset", 2}}, 4),
          withId({{"type", "sharedCell"}, {"name", "DOOR"}, {"origin", {30, 30}}, {"scale", 2}, {"rotation", 90}}, 5),
          withId({{"type", "multiLine"},
                  {"points", {{0, 40}, {20, 40}}},
                  {"lines", {{{"offset", -1}}, {{"offset", 1}, {"color", 3}}}},
                  {"endCap", true}},
                 6),
          withId({{"type", "line"}, {"points", {{0, 50}, {10, 50}}}, {"style", 9}, {"skipBit", true}}, 7),
          withId({{"type", 94}, {"points", {{0, 60}, {5, 60}, {5, 65}, {0, 65}}}}, 8)}}};
}

class DesignKinds : public ::testing::Test {
protected:
    void SetUp() override { subhost::hostReset(); }
    void TearDown() override { subhost::hostReset(); }

    void open(const json& doc) {
        std::string error;
        ASSERT_TRUE(subhost::openDesignDocument(doc, ".", &error)) << error;
    }
    std::string refusal(const json& doc) {
        std::string error;
        EXPECT_FALSE(subhost::openDesignDocument(doc, ".", &error));
        return error;
    }
    std::string refusalOf(const json& element) { return refusal({{"elements", {withId(element, 1)}}}); }

    const subhost::elements::Element& element(int id) {
        for (const auto& [pos, e] : elementState().elements)
            if (e.id == id) return e.shape;
        throw std::runtime_error("no element " + std::to_string(id));
    }
    MSElementDescr* read(int id) {
        for (const auto& [pos, e] : elementState().elements)
            if (e.id == id) {
                MSElementDescr* d = nullptr;
                mdlElmdscr_readToMaster(&d, pos, mdlModelRef_getActive(), 0, nullptr);
                return d;
            }
        return nullptr;
    }
};

TEST_F(DesignKinds, DamagedElementsAreRefusedNamingTheElementAndTheReason) {
    struct Case {
        json element;
        const char* says;
    } cases[] = {
        {{{"type", "spline"}}, "unknown type \"spline\""},
        {{{"type", 99}}, "unknown type 99"},
        {{{"type", "cell"}, {"name", "EMPTY"}, {"components", json::array()}}, "\"components\" must be a list"},
        {{{"type", "cell"}, {"components", {{{"type", "cell"}, {"components", json::array()}}}}}, "component 0:"},
        {{{"type", "text"}, {"origin", {0, 0}}, {"text", ""}, {"height", 1}}, "\"text\" must be a text of at least"},
        {{{"type", "text"}, {"origin", {0, 0}}, {"text", std::string(100000, 'x')}, {"height", 1}}, "too long"},
        {{{"type", "text"}, {"origin", {0, 0}}, {"text", "A"}, {"height", 0}}, "\"height\" must be above 0"},
        {{{"type", "text"}, {"origin", {0, 0}}, {"text", "A"}, {"height", 1}, {"justification", "middle"}},
         "\"justification\""},
        {{{"type", "dimension"}, {"points", {{1, 1}, {1, 1}}}}, "must differ"},
        {{{"type", "sharedCell"}, {"name", "NONE"}, {"origin", {0, 0}}}, "no shared cell definition \"NONE\""},
        {{{"type", "multiLine"}, {"points", {{0, 0}, {1, 0}}}, {"lines", json::array()}}, "\"lines\""},
        {{{"type", "line"}, {"points", {{0, 0}, {1, 0}}}, {"pattern", {{"spacing", 1}}}}, "closed element"},
        {{{"type", "shape"}, {"points", {{0, 0}, {1, 0}, {1, 1}}}, {"pattern", {{"spacing", 0}}}}, "spacing"},
        {{{"type", "line"}, {"points", {{0, 0}, {1, 0}}}, {"skipBit", 1}}, "\"skipBit\" must be true or false"},
        {{{"type", "rasterFrame"}, {"points", {{0, 0}, {1, 0}}}}, "4 corner points"},
    };
    for (const Case& c : cases) {
        const std::string error = refusalOf(c.element);
        EXPECT_NE(error.find("element 0"), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.element.dump().substr(0, 200) << "\n" << error;
    }
    EXPECT_TRUE(elementState().elements.empty()) << "a refused design leaves nothing behind";
}

TEST_F(DesignKinds, NestingBeyondTheLimitAndDefinitionLoopsAreRefused) {
    json cell = square(0, 0, 1);
    for (int i = 0; i < 1000; ++i) cell = {{"type", "cell"}, {"components", {cell}}};
    const std::string deep = refusalOf(cell);
    EXPECT_NE(deep.find("deep"), std::string::npos) << deep;

    // A shared cell definition placing itself, directly and round a loop of two.
    const json self = {
        {"sharedCells", {{"A", {{"components", {{{"type", "sharedCell"}, {"name", "A"}, {"origin", {0, 0}}}}}}}}}};
    EXPECT_NE(refusal(self).find("shared cell \"A\""), std::string::npos) << refusal(self);
    const json loop = {{"sharedCells",
                        {{"A", {{"components", {{{"type", "sharedCell"}, {"name", "B"}, {"origin", {0, 0}}}}}}},
                         {"B", {{"components", {{{"type", "sharedCell"}, {"name", "A"}, {"origin", {0, 0}}}}}}}}}};
    EXPECT_NE(refusal(loop).find("no shared cell definition"), std::string::npos) << refusal(loop);

    const json style = {{"lineStyles", {{{"code", 5}, {"dashes", {1}}}}}};
    EXPECT_NE(refusal(style).find("line style 0"), std::string::npos) << "codes 0-7 are the settings' own";
}

TEST_F(DesignKinds, SaveWritesEveryKindBackAsItWasRead) {
    open(everyKind());
    json saved = json::object();
    subhost::elements::saveInto(saved);
    subhost::hostReset();
    open(saved);
    json again = json::object();
    subhost::elements::saveInto(again);
    EXPECT_EQ(saved, again);
    ASSERT_EQ(elementState().elements.size(), 8u);
    EXPECT_EQ(element(1).components.size(), 2u);
    EXPECT_TRUE(element(1).components[1].hole);
    EXPECT_EQ(element(3).components.size(), 2u) << "a text node keeps one text a line";
    EXPECT_EQ(element(3).components[1].text, "two");
    EXPECT_EQ(element(5).scaleX, 2);
    EXPECT_EQ(element(6).mlines.size(), 2u);
    EXPECT_EQ(element(8).type, RASTER_FRAME_ELM);
    EXPECT_EQ(elementState().definitions.lineStyles.at(9).dashes, (std::vector<double>{2, 1}));
}

TEST_F(DesignKinds, DescriptorsGiveTypeHeaderPropertiesAndComponents) {
    open(everyKind());
    MSElementDescr* cell = read(1);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(mdlElement_getType(cell), CELL_HEADER_ELM);
    EXPECT_TRUE(mdlElmdscr_isGroupedHole(cell));
    MSElementDescr* solid = mdlElmdscr_firstComponent(cell);
    ASSERT_NE(solid, nullptr);
    MSElementDescr* hole = mdlElmdscr_next(solid);
    ASSERT_NE(hole, nullptr);
    EXPECT_EQ(mdlElmdscr_next(hole), nullptr);
    EXPECT_TRUE(mdlElement_isFilled(solid));
    std::uint8_t solidHole = 9;
    mdlElement_getProperties(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &solidHole, hole);
    EXPECT_EQ(solidHole, 1);
    EXPECT_EQ(mdlElement_getHeaderWord(hole, 0) & HEADER_COMPLEX_BIT, HEADER_COMPLEX_BIT);
    MSElementDescr* copy = nullptr;
    ASSERT_EQ(mdlElmdscr_duplicateSingle(&copy, cell), SUCCESS);
    EXPECT_EQ(mdlElmdscr_validate(copy, mdlModelRef_getActive()), SUCCESS);
    mdlElmdscr_freeAll(&copy);
    mdlElmdscr_freeAll(&cell);

    MSElementDescr* skipped = read(7);
    EXPECT_EQ(mdlElement_getHeaderWord(skipped, 0) & HEADER_SKIP_BIT, HEADER_SKIP_BIT);
    EXPECT_EQ(mdlElement_getHeaderWord(skipped, 0) & HEADER_TYPE_MASK, std::uint32_t(LINE_ELM));
    std::int32_t style = 0;
    mdlElement_getEffectiveSymbology(nullptr, nullptr, &style, nullptr, skipped, mdlModelRef_getActive(), 0);
    EXPECT_EQ(style, 9) << "custom codes come through as they are";
    mdlElmdscr_freeAll(&skipped);
}

TEST_F(DesignKinds, RangesCoverTheWholeElementAndAddedElementsLieBeyondTheEnd) {
    open(everyKind());
    MSElementDescr* cell = read(1);
    DRange3d range{};
    ASSERT_EQ(mdlElement_extractRange(&range, cell), SUCCESS);
    EXPECT_DOUBLE_EQ(range.low.x, 0);
    EXPECT_DOUBLE_EQ(range.high.y, 10);

    const std::uint32_t end = mdlElement_getFilePos(FILEPOS_EOF, nullptr);
    const std::uint32_t added = mdlElmdscr_add(cell);
    EXPECT_GE(added, end);
    EXPECT_EQ(elementState().elements.size(), 9u);
    mdlElmdscr_freeAll(&cell);

    // Colours: the nearest palette entry.
    const RGBColorDef palette[] = {{0, 0, 0}, {250, 10, 10}, {255, 255, 255}};
    const RGBColorDef red{200, 0, 0};
    EXPECT_EQ(mdlColor_searchRGBArray(&red, palette, 3), 1);
    RGBColorDef rgb{};
    ASSERT_EQ(mdlColor_elementColorToRGB(&rgb, 3, mdlModelRef_getActive()), SUCCESS);
    EXPECT_EQ(rgb.red, 255);
    EXPECT_EQ(rgb.green, 0);
}

TEST_F(DesignKinds, ALongChainIsFreedWithoutDeepRecursion) {
    std::vector<subhost::elements::Element> many(100000);
    for (auto& e : many) e.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    MSElementDescr* chain = subhost::elements::chainOf(std::move(many)).release();
    int count = 0;
    for (MSElementDescr* d = chain; d; d = mdlElmdscr_next(d)) ++count;
    EXPECT_EQ(count, 100000);
    mdlElmdscr_freeAll(&chain);
    EXPECT_EQ(chain, nullptr);
}

}  // namespace
