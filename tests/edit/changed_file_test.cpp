// An attached raster file that another program removes or replaces before the first edit
// reads its pixels: the add-on shows its usual error box, and the host's message centre
// says which file could not be read and why.
#include "edit_fixture.h"

namespace {

class ChangedFileTest : public EditTest {
protected:
    // Deletes a block of the scan and gives the message centre's error texts (brief and detail).
    std::vector<std::string> deleteBlockAndReadErrors() {
        command(rid::CMD_DELETE);
        points({{10.5, 10.5}, {30.5, 30.5}, {10.5, 10.5}});
        std::vector<std::string> out;
        for (const auto& e : events("messageCenter"))
            if (e.value("priority", 0) == 10) out.push_back(e.value("brief", "") + " | " + e.value("detail", ""));
        return out;
    }
};

TEST_F(ChangedFileTest, MessageCentreNamesTheFileAndWhy) {
    enum class Change { Removed, Smaller, Text };
    const struct {
        const char* name;
        Change change;
        const char* why;  // words the error must hold besides the file's name
    } cases[] = {
        {"removed", Change::Removed, "does not exist"},
        {"replaced by a smaller picture", Change::Smaller, "changed since it was attached"},
        {"replaced by text", Change::Text, "not a raster file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        startScan();
        if (c.change == Change::Removed) std::filesystem::remove(dir / "scan.tif");
        if (c.change == Change::Smaller) greyFile("scan.tif", 40, 30);
        if (c.change == Change::Text) std::ofstream(dir / "scan.tif") << "not a picture";
        const std::vector<std::string> errors = deleteBlockAndReadErrors();
        ASSERT_FALSE(errors.empty());
        const std::string path = (dir / "scan.tif").string();
        bool named = false;
        for (const auto& text : errors)
            named |= text.find(path) != std::string::npos && text.find(c.why) != std::string::npos;
        EXPECT_TRUE(named) << errors.front();
    }
}

}  // namespace
