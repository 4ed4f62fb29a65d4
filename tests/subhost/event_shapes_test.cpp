// Every transcript event of a type has exactly the fields subhost/README.md lists for the type:
// sample sessions with the add-on (an edit, dumps, a question nobody answers, a line that fails)
// and the add-on's output texts are parsed line by line and checked against the README's table.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "frame/app.h"
#include "host/mdlresource.h"
#include "subhost/events.h"
#include "subhost/host_fixture.h"
#include "subhost/imagefile/imagefile.h"

namespace fs = std::filesystem;

namespace {

using FieldSet = std::set<std::string>;

// The backquoted words of a table cell.
std::vector<std::string> quoted(const std::string& cell) {
    std::vector<std::string> words;
    for (std::size_t open = cell.find('`'); open != std::string::npos; open = cell.find('`', open)) {
        const std::size_t close = cell.find('`', open + 1);
        if (close == std::string::npos) break;
        words.push_back(cell.substr(open + 1, close - open - 1));
        open = close + 1;
    }
    return words;
}

// The event table of subhost/README.md: each event name with its documented fields.
std::map<std::string, FieldSet> documentedEvents() {
    std::ifstream in(std::string(PXMEND_SOURCE_DIR) + "/subhost/README.md");
    std::map<std::string, FieldSet> table;
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## Transcript events";
        if (!inSection || line.rfind("| `", 0) != 0) continue;
        const std::size_t second = line.find('|', 1), third = line.find('|', second + 1);
        const auto fields = quoted(line.substr(second + 1, third - second - 1));
        for (const std::string& name : quoted(line.substr(1, second - 1)))
            table[name].insert(fields.begin(), fields.end());
    }
    return table;
}

// The fields of an event besides its name.
FieldSet fieldsOf(const nlohmann::json& event) {
    FieldSet fields;
    for (const auto& item : event.items())
        if (item.key() != "event") fields.insert(item.key());
    return fields;
}

class EventShapes : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = fs::temp_directory_path() / ("subhost-shapes-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        namespace img = subhost::imagefile;
        img::Image image = img::makeImage(100, 80, img::ColorMode::Grey8).image;
        for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = std::uint8_t(i % 200);
        ASSERT_EQ(img::createImageFile((dir / "scan.tif").string(), img::FileFormat::Tiff, image).status, 0);
        std::ofstream(dir / "site.json")
            << R"({"name": "site.dgn", "views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [100, 80, 0]}],)"
               R"( "elements": [{"id": 1, "type": "line", "points": [[1, 1], [20, 20]]}],)"
               R"( "rasters": [{"file": "scan.tif"}, {"file": "gone.tif"}]})";
    }
    void TearDown() override {
        HostTest::TearDown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Runs `script` with the add-on and the settings file in the scratch folder; the exit code.
    // The events parsed from the transcript it wrote are added to `seen`.
    int session(const std::string& script) {
        std::ofstream(dir / "test.session", std::ios::binary)
            << "cfg PXMEND_SETTINGS " << (dir / "Pxmend.ini").string() << "\n"
            << script;
        subhost::SessionOptions options;
        options.linkedMain = &MdlMain;
        options.linkedResources = &MdlResources;
        std::ostringstream out, err;
        const int code = subhost::runSession((dir / "test.session").string(), options, out, err);
        transcriptText = out.str();
        std::istringstream lines(transcriptText);
        for (std::string line; std::getline(lines, line);) seen.push_back(nlohmann::json::parse(line));
        return code;
    }

    fs::path dir;
    std::string transcriptText;
    std::vector<nlohmann::json> seen;
};

TEST_F(EventShapes, EveryEventOfSampleSessionsHasExactlyItsDocumentedFields) {
    const auto documented = documentedEvents();
    ASSERT_GT(documented.size(), 30u) << "the README's event table was not found";

    // An edit with the tool settings, a fence, undo and redo, the dumps, a picture and a save.
    ASSERT_EQ(session("design site.json\nload\nkeyin dialog toolbox 113 rastmgr\ntoolsettings open\n"
                      "keyin PXMEND DELETE\ncursor 12 12\npoint 10 10\npoint 30 40\npoint 10 10\nreset\n"
                      "undo\nredo\nfence 0 0 50 0 50 50\nfence clear\nselect 1\nselect clear\ndump expanded 1\ndump "
                      "settings\ndump items toolsettings\n"
                      "dump menus\ndump rasters\ndump elements\ndump dynamics\nrender pic.png size 40x30\n"
                      "keyin no such words\ncommand 0x7f000000\ntoolsettings close\nsave\nunload 0\n"),
              0)
        << transcriptText;
    // A line that fails while running, then a question nobody answers.
    EXPECT_EQ(session("design missing.json\n"), 2) << transcriptText;
    EXPECT_EQ(session("design site.json\nload\nset SaveWithoutAsking 0\nset StampMode 3\nunload\n"), 3)
        << transcriptText;

    // The test application's output texts of every type, from lists and missing from them.
    subhost::hostReset();
    testapp::reset();
    load();
    for (int type : {MSG_ERROR, MSG_PROMPT, MSG_STATUS, MSG_COMMAND, MSG_KEYIN, MSG_MESSAGE}) {
        mdlOutput_printf(type, L"text");
        mdlOutput_rscPrintf(type, nullptr, 2, 1);
        mdlOutput_rscPrintf(type, nullptr, 2, 99);
    }
    seen.insert(seen.end(), subhost::transcript().begin(), subhost::transcript().end());

    std::set<std::string> names;
    for (const auto& event : seen) {
        const std::string name = event.value("event", "");
        names.insert(name);
        const auto doc = documented.find(name);
        ASSERT_NE(doc, documented.end()) << "undocumented event: " << event.dump();
        EXPECT_EQ(fieldsOf(event), doc->second) << event.dump();
    }
    // The sessions reached the events whose fields differed from one event to the next.
    for (const char* name :
         {"error", "keyin", "design", "render", "undo", "redo", "toolSettings", "messageCenter", "status", "prompt",
          "command", "fence", "settings", "rasterRefused", "selection", "expanded"})
        EXPECT_EQ(names.count(name), 1u) << name;
}

// The fields the host fills in are the documented ones: the README's table and the list the host
// fills events from name the same events with the same fields.
TEST(EventTable, HostListAndReadmeAgree) {
    const auto documented = documentedEvents();
    std::map<std::string, FieldSet> filled;
    for (const subhost::EventShape& shape : subhost::eventShapes())
        for (const auto& field : shape.fields) filled[shape.name].insert(field.first);
    EXPECT_EQ(filled, documented);
}

// A field that does not apply holds its type's empty value; an error outside a line has line 0.
TEST_F(EventShapes, FieldsThatDoNotApplyHoldEmptyValues) {
    subhost::recordEvent({{"event", "design"}, {"action", "closed"}, {"name", "x.dgn"}});
    subhost::recordEvent({{"event", "error"}, {"message", "m"}});
    const auto& t = subhost::transcript();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0], (nlohmann::json{{"event", "design"},
                                    {"action", "closed"},
                                    {"name", "x.dgn"},
                                    {"readOnly", false},
                                    {"views", 0},
                                    {"path", ""}}));
    EXPECT_EQ(t[1]["line"], 0);
    EXPECT_EQ(t[1]["allowed"], nlohmann::json::array());
    EXPECT_EQ(t[1]["text"], "");
}

}  // namespace
