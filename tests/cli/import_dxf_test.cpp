// pixelmend import-dxf: DXF drawings written here become design descriptions whose elements are
// checked kind by kind; damaged and hostile drawings are refused with their line and nothing written.
#include <cmath>
#include <initializer_list>
#include <utility>

#include <nlohmann/json.hpp>

#include "raster_files_fixture.h"

namespace {

using nlohmann::json;

// Group code / value pairs as DXF text.
std::string pairs(std::initializer_list<std::pair<int, std::string>> list) {
    std::string text;
    for (const auto& [code, value] : list) text += std::to_string(code) + "\n" + value + "\n";
    return text;
}

std::string line(double x1, double y1, double x2, double y2, const std::string& layer = "0",
                 const std::string& color = "") {
    std::string text = pairs({{0, "LINE"}, {8, layer}});
    if (!color.empty()) text += pairs({{62, color}});
    return text + pairs({{10, std::to_string(x1)},
                         {20, std::to_string(y1)},
                         {11, std::to_string(x2)},
                         {21, std::to_string(y2)}});
}

std::string section(const std::string& name, const std::string& body) {
    return pairs({{0, "SECTION"}, {2, name}}) + body + pairs({{0, "ENDSEC"}});
}

// A whole drawing: a layer table, block definitions and model-space entities.
std::string drawing(const std::string& entities, const std::string& blocks = "", const std::string& layers = "") {
    return section("HEADER", pairs({{9, "$ACADVER"}, {1, "AC1015"}})) +
           section("TABLES", pairs({{0, "TABLE"}, {2, "LAYER"}}) + layers + pairs({{0, "ENDTAB"}})) +
           section("BLOCKS", blocks) + section("ENTITIES", entities) + pairs({{0, "EOF"}});
}

std::string block(const std::string& name, double bx, double by, const std::string& entities) {
    return pairs({{0, "BLOCK"}, {8, "0"}, {2, name}, {70, "0"}, {10, std::to_string(bx)}, {20, std::to_string(by)}}) +
           entities + pairs({{0, "ENDBLK"}, {8, "0"}});
}

std::string insert(const std::string& name, double x, double y, const std::string& color = "256") {
    return pairs({{0, "INSERT"}, {8, "0"}, {62, color}, {2, name}, {10, std::to_string(x)}, {20, std::to_string(y)}});
}

class ImportDxfTest : public RasterFilesTest {
protected:
    // Writes text as name in the test folder.
    void writeText(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
    }

    // Imports text (as in.dxf) into out.json; the command's run and the design read back.
    std::pair<Run, json> import(const std::string& text) {
        writeText("in.dxf", text);
        const Run r = pixelmend("import-dxf in.dxf -o out.json");
        json design;
        if (exists("out.json")) design = json::parse(bytes("out.json"), nullptr, false);
        return {r, design};
    }

    static void expectPoint(const json& p, double x, double y, const std::string& what) {
        ASSERT_TRUE(p.is_array() && p.size() >= 2) << what << ": " << p.dump();
        EXPECT_NEAR(p[0].get<double>(), x, 1e-6) << what << ": " << p.dump();
        EXPECT_NEAR(p[1].get<double>(), y, 1e-6) << what << ": " << p.dump();
    }
};

}  // namespace

TEST_F(ImportDxfTest, DxfEntitiesBecomeElementsOfTheirKindsWithLevelsColoursAndAView) {
    const std::string layers = pairs({{0, "LAYER"}, {2, "WALLS"}, {70, "0"}, {62, "3"}, {370, "50"}});
    const std::string entities =
        line(0, 0, 100, 0, "WALLS") +  // BYLAYER: green (3), layer weight 0.50 mm
        line(0, 0, 0, 50, "0", "7") +  // white/black becomes colour 0
        pairs({{0, "LWPOLYLINE"},
               {8, "0"},
               {62, "1"},
               {90, "4"},
               {70, "1"},
               {10, "10"},
               {20, "10"},
               {10, "20"},
               {20, "10"},
               {10, "20"},
               {20, "20"},
               {10, "10"},
               {20, "20"}}) +
        // An open polyline whose first segment is a half circle to the left (bulge 1).
        pairs({{0, "LWPOLYLINE"},
               {8, "0"},
               {90, "3"},
               {70, "0"},
               {10, "30"},
               {20, "0"},
               {42, "1"},
               {10, "40"},
               {20, "0"},
               {10, "40"},
               {20, "10"}}) +
        pairs({{0, "CIRCLE"}, {8, "0"}, {10, "50"}, {20, "25"}, {40, "5"}}) +
        pairs({{0, "ARC"}, {8, "0"}, {10, "60"}, {20, "25"}, {40, "4"}, {50, "350"}, {51, "10"}}) +
        pairs({{0, "ELLIPSE"},
               {8, "0"},
               {10, "70"},
               {20, "25"},
               {11, "0"},
               {21, "6"},
               {40, "0.5"},
               {41, "0"},
               {42, "1.5707963267948966"}}) +
        pairs({{0, "TEXT"},
               {8, "0"},
               {10, "5"},
               {20, "40"},
               {40, "2.5"},
               {1, "%%c12 %%p0.1"},
               {50, "90"},
               {72, "2"},
               {73, "3"},
               {11, "6"},
               {21, "41"}}) +
        pairs({{0, "MTEXT"},
               {8, "WALLS"},
               {10, "80"},
               {20, "45"},
               {40, "2"},
               {71, "5"},
               {1, "{\\fArial|b1;Room}\\Pfirst \\Lfloor\\l\\P\\S1^2;"}}) +
        pairs({{0, "LINE"}, {8, "0"}, {370, "25"}, {10, "0"}, {20, "60"}, {11, "1"}, {21, "60"}});
    const auto [r, design] = import(drawing(entities, "", layers));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("imported 10 elements from in.dxf\n")) << r.out;
    const json& e = design["elements"];
    ASSERT_EQ(e.size(), 10u) << design.dump();
    for (std::size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i]["id"], i + 1);

    EXPECT_EQ(e[0]["type"], "line");
    expectPoint(e[0]["points"][1], 100, 0, "line end");
    EXPECT_EQ(e[0]["color"], 3);
    EXPECT_EQ(e[0]["weight"], 5);
    EXPECT_EQ(e[1]["color"], 0) << "ACI 7 is design colour 0";
    EXPECT_EQ(e[1]["level"], 2) << "layer 0 is used second";
    EXPECT_EQ(e[0]["level"], 1);
    EXPECT_EQ(design["levels"], json({{"WALLS", 1}, {"0", 2}}));

    EXPECT_EQ(e[2]["type"], "shape") << "a closed polyline";
    EXPECT_EQ(e[2]["points"].size(), 4u);
    EXPECT_EQ(e[2]["color"], 1);

    EXPECT_EQ(e[3]["type"], "lineString");
    const json& bulged = e[3]["points"];
    ASSERT_GT(bulged.size(), 5u) << "the half circle is stroked";
    expectPoint(bulged.front(), 30, 0, "polyline start");
    expectPoint(bulged.back(), 40, 10, "polyline end");
    for (std::size_t i = 0; i + 2 < bulged.size(); ++i) {
        // Every stroked point lies on the circle through (30,0) and (40,0), and below the chord
        // (a positive bulge turns counter-clockwise from 30,0 to 40,0).
        const double x = bulged[i][0].get<double>() - 35, y = bulged[i][1].get<double>();
        EXPECT_NEAR(std::hypot(x, y), 5, 1e-6) << bulged.dump();
        EXPECT_LE(y, 1e-9) << bulged.dump();
    }

    EXPECT_EQ(e[4]["type"], "ellipse");
    expectPoint(e[4]["center"], 50, 25, "circle centre");
    EXPECT_EQ(e[4]["axes"], json({5.0, 5.0}));
    EXPECT_EQ(e[5]["type"], "arc");
    EXPECT_NEAR(e[5]["start"].get<double>(), 350, 1e-9);
    EXPECT_NEAR(e[5]["sweep"].get<double>(), 20, 1e-9) << "350 to 10 degrees runs over 0";
    EXPECT_EQ(e[6]["type"], "arc");
    EXPECT_NEAR(e[6]["rotation"].get<double>(), 90, 1e-9);
    EXPECT_EQ(e[6]["axes"], json({6.0, 3.0}));
    EXPECT_NEAR(e[6]["sweep"].get<double>(), 90, 1e-9);

    EXPECT_EQ(e[7]["type"], "text");
    EXPECT_EQ(e[7]["text"], "\u230012 \u00b10.1");
    EXPECT_EQ(e[7]["justification"], "rightTop");
    expectPoint(e[7]["origin"], 6, 41, "a justified text sits at its alignment point");
    EXPECT_NEAR(e[7]["rotation"].get<double>(), 90, 1e-9);
    EXPECT_EQ(e[8]["type"], "textNode");
    EXPECT_EQ(e[8]["lines"], json({"Room", "first floor", "1/2"}));
    EXPECT_EQ(e[8]["justification"], "centerCenter");
    EXPECT_EQ(e[8]["level"], 1);
    EXPECT_EQ(e[9]["weight"], 3) << "0.25 mm";

    // View 0 holds everything, with a margin.
    const json& view = design["views"][0];
    const double x0 = view["origin"][0], y0 = view["origin"][1];
    const double w = view["extent"][0], h = view["extent"][1];
    EXPECT_LT(x0, 0);
    EXPECT_LT(y0, -5) << "the bulge dips to y = -5";
    EXPECT_GT(x0 + w, 100);
    EXPECT_GT(y0 + h, 60);
    EXPECT_LT(w, 130);
    ASSERT_EQ(design["colorTable"].size(), 256u);
    EXPECT_EQ(design["colorTable"][1], json({255, 0, 0})) << "DXF colour 1 is red";
    EXPECT_EQ(design["colorTable"][3], json({0, 255, 0}));
}

TEST_F(ImportDxfTest, DxfInsertsBecomePlacedCellsNestedAndSelfInsertsAreSkipped) {
    // A block whose base point is (1, 0): a line from (1,0) to (3,0) and an insert of LEAF.
    const std::string blocks = block("LEAF", 0, 0, line(0, 0, 0, 1, "0", "0")) +
                               block("DOOR", 1, 0, line(1, 0, 3, 0) + insert("LEAF", 3, 0, "0")) +
                               block("LOOP", 0, 0, line(0, 0, 1, 1) + insert("LOOP", 5, 5));
    const std::string entities = pairs({{0, "INSERT"},
                                        {8, "DOORS"},
                                        {62, "5"},
                                        {2, "DOOR"},
                                        {10, "10"},
                                        {20, "20"},
                                        {41, "2"},
                                        {42, "2"},
                                        {50, "90"}}) +
                                 insert("LOOP", 0, 0) + insert("NOWHERE", 0, 0);
    const auto [r, design] = import(drawing(entities, blocks));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("INSERT (block inserts itself)")) << r.out;
    EXPECT_TRUE(r.says("1 INSERT (block not defined)")) << r.out;
    const json& e = design["elements"];
    ASSERT_EQ(e.size(), 2u) << design.dump();
    const json& door = e[0];
    EXPECT_EQ(door["type"], "cell");
    EXPECT_EQ(door["name"], "DOOR");
    EXPECT_FALSE(door["components"][0].contains("id"));
    expectPoint(door["origin"], 10, 20, "the base point lands on the insert point");
    // (1,0)-(3,0) less the base, doubled, turned a quarter: (10,20)-(10,24).
    const json& l = door["components"][0];
    expectPoint(l["points"][0], 10, 20, "line start");
    expectPoint(l["points"][1], 10, 24, "line end");
    // LEAF at (3,0) of DOOR: (10,24); its line (0,0)-(0,1) doubled and turned: to (6,24).
    const json& leaf = door["components"][1];
    EXPECT_EQ(leaf["type"], "cell");
    EXPECT_EQ(leaf["name"], "LEAF");
    expectPoint(leaf["components"][0]["points"][0], 10, 24, "nested start");
    expectPoint(leaf["components"][0]["points"][1], 8, 24, "nested end");
    EXPECT_EQ(leaf["components"][0]["color"], 5) << "BYBLOCK takes the insert's colour";
    EXPECT_EQ(door["level"], design["levels"]["DOORS"]);
    EXPECT_EQ(leaf["components"][0]["level"], design["levels"]["DOORS"]) << "layer 0 in a block takes the insert's";
    // LOOP's own line is kept; its insert of itself is not followed.
    EXPECT_EQ(e[1]["name"], "LOOP");
    EXPECT_EQ(e[1]["components"].size(), 1u);
}

TEST_F(ImportDxfTest, DxfDimensionsHatchesAndUnsupportedEntities) {
    const std::string entities =
        // Aligned from (0,0) to (10,0), its line 3 above.
        pairs({{0, "DIMENSION"},
               {8, "0"},
               {70, "1"},
               {10, "10"},
               {20, "3"},
               {13, "0"},
               {23, "0"},
               {14, "10"},
               {24, "0"},
               {1, "<> mm"}}) +
        // Rotated (linear) at 0 degrees from (0,10) to (4,13): measures 4, line below at y = 8.
        pairs({{0, "DIMENSION"},
               {8, "0"},
               {70, "0"},
               {10, "4"},
               {20, "8"},
               {13, "0"},
               {23, "10"},
               {14, "4"},
               {24, "13"},
               {50, "0"}}) +
        // A hatch with an outer square and a square hole, pattern lines 45 degrees 2 apart.
        pairs({{0, "HATCH"},
               {8, "0"},
               {10, "0"},
               {20, "0"},
               {30, "0"},
               {2, "ANSI31"},
               {70, "0"},
               {71, "0"},
               {91, "2"},
               {92, "3"},
               {72, "0"},
               {73, "1"},
               {93, "4"},
               {10, "0"},
               {20, "0"},
               {10, "10"},
               {20, "0"},
               {10, "10"},
               {20, "10"},
               {10, "0"},
               {20, "10"},
               {97, "0"},
               {92, "18"},
               {72, "0"},
               {73, "1"},
               {93, "4"},
               {10, "4"},
               {20, "4"},
               {10, "6"},
               {20, "4"},
               {10, "6"},
               {20, "6"},
               {10, "4"},
               {20, "6"},
               {97, "0"},
               {75, "0"},
               {76, "1"},
               {52, "0"},
               {41, "1"},
               {77, "0"},
               {78, "1"},
               {53, "45"},
               {43, "0"},
               {44, "0"},
               {45, "-1.414213562373095"},
               {46, "1.414213562373095"},
               {79, "0"},
               {98, "1"},
               {10, "5"},
               {20, "5"}}) +
        // A solid hatch of one triangle made of line edges.
        pairs({{0, "HATCH"}, {8, "0"},  {2, "SOLID"}, {70, "1"}, {71, "0"},  {91, "1"},  {92, "1"},
               {93, "3"},    {72, "1"}, {10, "20"},   {20, "0"}, {11, "30"}, {21, "0"},  {72, "1"},
               {10, "30"},   {20, "0"}, {11, "25"},   {21, "5"}, {72, "1"},  {10, "25"}, {20, "5"},
               {11, "20"},   {21, "0"}, {97, "0"},    {75, "0"}, {76, "1"},  {98, "0"}}) +
        pairs({{0, "SPLINE"}, {8, "0"}, {70, "8"}, {71, "3"}, {72, "2000000000"}, {73, "2000000000"}}) +
        pairs({{0, "SOLID"}, {8, "0"}, {10, "0"}, {20, "0"}}) + pairs({{0, "SPLINE"}, {8, "0"}}) +
        pairs({{0, "LINE"}, {8, "0"}, {67, "1"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"}}) +
        // Far beyond any drawing: the view around it would not be a finite number.
        pairs({{0, "LINE"}, {8, "0"}, {10, "-1e308"}, {20, "0"}, {11, "1e308"}, {21, "1"}}) +
        // An LWPOLYLINE and a HATCH without vertices or loops are not copies of the ones before.
        pairs({{0, "LWPOLYLINE"}, {8, "0"}, {90, "2"}, {10, "7"}, {20, "7"}, {10, "8"}, {20, "8"}}) +
        pairs({{0, "LWPOLYLINE"}, {8, "0"}, {70, "0"}}) + pairs({{0, "HATCH"}, {8, "0"}, {70, "1"}, {91, "0"}});
    const auto [r, design] = import(drawing(entities));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(
        r.says("imported 5 elements from in.dxf (skipped: 1 HATCH (no boundary), 1 LINE (coordinates out of range), 1 "
               "LINE (paper space), 1 LWPOLYLINE (fewer than 2 points), 1 SOLID, 2 SPLINE)"))
        << r.out;
    const json& e = design["elements"];
    ASSERT_EQ(e.size(), 5u) << design.dump();
    EXPECT_EQ(e[4]["points"].size(), 2u);
    EXPECT_EQ(e[0]["type"], "dimension");
    expectPoint(e[0]["points"][0], 0, 0, "dimension start");
    expectPoint(e[0]["points"][1], 10, 0, "dimension end");
    EXPECT_NEAR(e[0]["offset"].get<double>(), 3, 1e-9) << "left of p1->p2 is positive";
    EXPECT_EQ(e[0]["text"], "10.00 mm");
    expectPoint(e[1]["points"][1], 4, 10, "the second point is taken across onto the measured direction");
    EXPECT_NEAR(e[1]["offset"].get<double>(), -2, 1e-9) << "below a left-to-right dimension is the right side";
    EXPECT_FALSE(e[1].contains("text"));

    const json& holed = e[2];
    EXPECT_EQ(holed["type"], "cell");
    EXPECT_EQ(holed["groupedHole"], true);
    ASSERT_EQ(holed["components"].size(), 2u) << holed.dump() << " (the seed point is no boundary vertex)";
    EXPECT_EQ(holed["components"][0]["points"].size(), 4u);
    EXPECT_FALSE(holed["components"][0].value("hole", false));
    EXPECT_EQ(holed["components"][1]["hole"], true);
    EXPECT_EQ(holed["components"][1]["points"].size(), 4u);
    EXPECT_NEAR(holed["pattern"]["angle"].get<double>(), 45, 1e-9);
    EXPECT_NEAR(holed["pattern"]["spacing"].get<double>(), 2, 1e-9);

    EXPECT_EQ(e[3]["type"], "shape");
    EXPECT_EQ(e[3]["filled"], true);
    EXPECT_EQ(e[3]["points"].size(), 3u);
    EXPECT_FALSE(e[3].contains("pattern"));
}

TEST_F(ImportDxfTest, DamagedDxfFilesAreRefusedWithTheirLineAndNothingWritten) {
    const std::string good = drawing(line(0, 0, 1, 1));
    const std::size_t entitiesAt = good.find("ENTITIES");
    struct Case {
        const char* what;
        std::string text;
        std::string says;
    };
    const std::string lwpolyline = "0\nLWPOLYLINE\n8\n0\n";
    const Case cases[] = {
        {"odd number of lines", good.substr(0, good.size() - 4), "the file ends in the middle of a pair"},
        {"group code not a number", good.substr(0, entitiesAt) + "ENTITIES\nx1\n0\n" + good.substr(entitiesAt + 9),
         "line " + std::to_string(std::count(good.begin(), good.begin() + long(entitiesAt), '\n') + 2) +
             ": group code \"x1\" is not a number"},
        {"no ENTITIES section", section("TABLES", "") + pairs({{0, "EOF"}}), "no ENTITIES section"},
        {"EOF missing", good.substr(0, good.rfind("0\nEOF")), "ends without the EOF marker"},
        {"ENDSEC missing", pairs({{0, "SECTION"}, {2, "ENTITIES"}}) + line(0, 0, 1, 1) + "0\nEOF\n",
         "EOF inside the ENTITIES section"},
        {"not a number", drawing(pairs({{0, "LINE"}, {10, "1.5e"}})), "group 10 needs a number, found \"1.5e\""},
        {"not finite", drawing(pairs({{0, "CIRCLE"}, {40, "1e999"}})), "group 40 needs a number"},
        {"huge vertex count", drawing(lwpolyline + pairs({{90, "2000000000"}})), "vertex count 2000000000"},
        {"vertex before count", drawing(lwpolyline + pairs({{10, "1"}, {20, "1"}})), "before its vertex count"},
        {"bulge before vertex", drawing(lwpolyline + pairs({{90, "2"}, {42, "1"}})), "bulge (group 42) before"},
        {"binary", "AutoCAD Binary DXF\r\n\x1a", "binary DXF"},
        {"long line", drawing(pairs({{0, "TEXT"}, {1, std::string(70000, 'a')}})), "longer than 65536 bytes"},
    };
    writeText("out.json", "keep me");
    for (const Case& c : cases) {
        writeText("in.dxf", c.text);
        const Run r = pixelmend("import-dxf in.dxf -o out.json");
        EXPECT_EQ(r.code, 1) << c.what << ": " << r.out;
        EXPECT_TRUE(r.says("pixelmend import-dxf: in.dxf: ")) << c.what << ": " << r.out;
        EXPECT_TRUE(r.says(c.says)) << c.what << ": " << r.out;
        EXPECT_TRUE(r.says("nothing written")) << c.what << ": " << r.out;
        EXPECT_EQ(bytes("out.json"), "keep me") << c.what;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 3) << "no temporary left behind";
    const Run missing = pixelmend("import-dxf none.dxf -o new.json");
    EXPECT_EQ(missing.code, 1) << missing.out;
    EXPECT_TRUE(missing.says("none.dxf: cannot be opened")) << missing.out;
    EXPECT_FALSE(exists("new.json"));
    EXPECT_EQ(pixelmend("import-dxf in.dxf").code, 2) << "-o is needed";
}

TEST_F(ImportDxfTest, DxfElementLimitHoldsForEntitiesAndForExpandedInserts) {
    std::string many;
    for (int i = 0; i <= 100000; ++i) many += pairs({{0, "LINE"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"}});
    auto [r, design] = import(drawing(many));
    EXPECT_EQ(r.code, 1) << r.out.substr(0, 400);
    EXPECT_TRUE(r.says("more than 100000 entities")) << r.out.substr(0, 400);
    EXPECT_FALSE(exists("out.json"));

    // Ten blocks each inserting the one before ten times: 10^10 lines once expanded.
    std::string blocks = block("B0", 0, 0, line(0, 0, 1, 0));
    for (int b = 1; b < 10; ++b) {
        std::string body;
        for (int i = 0; i < 10; ++i) body += insert("B" + std::to_string(b - 1), i, b);
        blocks += block("B" + std::to_string(b), 0, 0, body);
    }
    std::tie(r, design) = import(drawing(insert("B9", 0, 0), blocks));
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(r.says("more than 100000 elements once block inserts are expanded")) << r.out;
    EXPECT_FALSE(exists("out.json"));

    // Inserts that come to nothing cost no time however often they are repeated or nested: an
    // array of 30000 x 30000 inserts of a block holding only itself, and ten inserts a level of
    // twenty levels ending in an empty block.
    std::tie(r, design) =
        import(drawing(pairs({{0, "INSERT"}, {2, "SELF"}, {70, "30000"}, {71, "30000"}}) + line(0, 0, 1, 1),
                       block("SELF", 0, 0, insert("SELF", 1, 1))));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("imported 1 elements")) << r.out;
    std::string hollow = block("H20", 0, 0, "");
    for (int b = 0; b < 20; ++b) {
        std::string body;
        for (int i = 0; i < 10; ++i) body += insert("H" + std::to_string(b + 1), i, 0);
        hollow += block("H" + std::to_string(b), 0, 0, body);
    }
    std::tie(r, design) = import(drawing(insert("H0", 0, 0), hollow));
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(r.says("block inserts nest too deeply to expand")) << r.out;

    // Four levels of the same blocks fit: 10^4 lines, 1111 cells.
    std::tie(r, design) = import(drawing(insert("B4", 0, 0), blocks));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("imported 1 elements")) << r.out;
}

TEST_F(ImportDxfTest, DxfEntitiesSeenFromBelowAreMirroredAndTiltedOnesSkipped) {
    const std::string blocks = block("TICK", 0, 0, line(0, 0, 2, 1));
    const std::string entities =
        // Object coordinates seen from below: x runs the other way, and so do the angles.
        pairs({{0, "ARC"},
               {8, "0"},
               {10, "60"},
               {20, "25"},
               {40, "4"},
               {50, "350"},
               {51, "10"},
               {210, "0"},
               {220, "0"},
               {230, "-1"}}) +
        pairs({{0, "INSERT"}, {8, "0"}, {2, "TICK"}, {10, "5"}, {20, "5"}, {230, "-1"}}) +
        pairs({{0, "CIRCLE"}, {8, "0"}, {10, "1"}, {20, "1"}, {40, "1"}, {210, "1"}, {220, "0"}, {230, "0"}});
    const auto [r, design] = import(drawing(entities, blocks));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("(skipped: 1 CIRCLE (not in the drawing plane))")) << r.out;
    const json& e = design["elements"];
    ASSERT_EQ(e.size(), 2u) << design.dump();
    expectPoint(e[0]["center"], -60, 25, "mirrored centre");
    EXPECT_NEAR(e[0]["rotation"].get<double>(), 0, 1e-9);
    EXPECT_NEAR(std::fmod(e[0]["start"].get<double>() + 360, 360), 190, 1e-9) << e[0].dump();
    EXPECT_NEAR(e[0]["sweep"].get<double>(), -20, 1e-9) << "from 190 clockwise to 170 degrees";
    const json& tick = e[1]["components"][0];
    expectPoint(tick["points"][0], -5, 5, "mirrored insert point");
    expectPoint(tick["points"][1], -7, 6, "mirrored block content");
}
