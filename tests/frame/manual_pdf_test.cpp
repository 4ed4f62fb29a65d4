// The manual built beside the add-on, read back with poppler's tools: every
// help destination exists and lands on a page that names its subject, the
// contents link to the sections, the pages are numbered and set in DejaVu.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

const std::string PDF = std::string(PXMEND_BIN_DIR) + "/Pxmendv8.pdf";

// Standard output of a shell command; fails the test when it does not exit with 0.
std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << command << " failed (poppler-utils installed? scripts/setup.sh)";
    return out;
}

// Named destinations and their pages, from `pdfinfo -dests`.
std::map<std::string, int> destinations() {
    std::map<std::string, int> found;
    std::istringstream lines(run("pdfinfo -dests '" + PDF + "'"));
    for (std::string line; std::getline(lines, line);) {
        const auto open = line.find('"'), close = line.rfind('"');
        if (open == std::string::npos || close <= open) continue;
        found[line.substr(open + 1, close - open - 1)] = std::stoi(line);
    }
    return found;
}

std::string pageText(int page) {
    return run("pdftotext -layout -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + PDF + "' -");
}

TEST(Manual, EveryHelpDestinationLandsOnThePageThatExplainsIt) {
    ASSERT_TRUE(std::filesystem::exists(PDF)) << PDF << " was not built beside the add-on";
    // Destination -> a heading its page must show.
    const std::map<std::string, std::string> subjects = {
        {"copy", "Copy"},
        {"move", "Move"},
        {"delete", "Delete"},
        {"crop", "Crop"},
        {"brush", "Brush"},
        {"stamp", "Stamp"},
        {"deskew", "Deskew"},
        {"despeckle", "Despeckle"},
        {"resize", "Resize Canvas"},
        {"edit", "Edit Externally"},
        {"scratch", "Scratch Area"},
        {"settingsInterface", "Interface page"},
        {"settingsDeskew", "Deskew page"},
        {"settingsBackup", "Backup page"},
        {"settingsFileNames", "File Names page"},
        {"settingsScratch", "Scratch page"},
        {"settingsStampLineWeights", "Stamp Line Weights page"},
        {"settingsStampLineStyles", "Stamp Line Styles page"},
    };
    const auto dests = destinations();
    for (const auto& [dest, heading] : subjects) {
        ASSERT_TRUE(dests.count(dest)) << "no destination " << dest;
        const std::string text = pageText(dests.at(dest));
        EXPECT_NE(text.find(heading), std::string::npos) << dest << " lands on page " << dests.at(dest);
        // Each page carries its number at its foot.
        EXPECT_NE(text.find(std::to_string(dests.at(dest))), std::string::npos);
    }
}

// A named destination's page and the top of the view it opens, in points from the page's top.
struct DestinationView {
    int page;
    double top;
};

std::map<std::string, DestinationView> destinationViews() {
    std::map<std::string, DestinationView> found;
    std::istringstream lines(run("pdfinfo -dests '" + PDF + "'"));
    for (std::string line; std::getline(lines, line);) {
        // "   5 [ XYZ    0  748 null      ] "copy"": page, left, top (from the page's foot).
        int page = 0;
        double left = 0, top = 0;
        char name[128] = {};
        if (std::sscanf(line.c_str(), " %d [ XYZ %lf %lf null ] \"%127[^\"]\"", &page, &left, &top, name) == 4)
            found[name] = {page, 842.0 - top};
    }
    return found;
}

// The heading a help destination opens at: its first word sits in the upper part of the view, set in a
// heading's size (taller than the body's 10.5 points), so the viewer shows the section, not the text before it.
TEST(Manual, EachHelpDestinationOpensAtItsHeading) {
    ASSERT_TRUE(std::filesystem::exists(PDF));
    const std::map<std::string, std::string> firstWords = {
        {"copy", "Copy"},
        {"move", "Move"},
        {"delete", "Delete"},
        {"crop", "Crop"},
        {"brush", "Brush"},
        {"stamp", "Stamp"},
        {"deskew", "Deskew"},
        {"despeckle", "Despeckle"},
        {"resize", "Resize"},
        {"edit", "Edit"},
        {"scratch", "Scratch"},
        {"settingsInterface", "Interface"},
        {"settingsDeskew", "Deskew"},
        {"settingsBackup", "Backup"},
        {"settingsFileNames", "File"},
        {"settingsScratch", "Scratch"},
        {"settingsStampLineWeights", "Stamp"},
        {"settingsStampLineStyles", "Stamp"},
    };
    const auto views = destinationViews();
    for (const auto& [dest, word] : firstWords) {
        ASSERT_TRUE(views.count(dest)) << "no destination " << dest;
        const DestinationView view = views.at(dest);
        std::istringstream words(run("pdftotext -bbox -f " + std::to_string(view.page) + " -l " +
                                     std::to_string(view.page) + " '" + PDF + "' -"));
        bool atTop = false;
        for (std::string line; std::getline(words, line);) {
            double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            char text[128] = {};
            if (std::sscanf(line.c_str(), " <word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%127[^<]</word>",
                            &x0, &y0, &x1, &y1, text) != 5)
                continue;
            atTop |= text == word && y0 >= view.top && y0 <= view.top + 40 && y1 - y0 > 14;
        }
        EXPECT_TRUE(atTop) << dest << " opens page " << view.page << " at " << view.top << " pt without its heading \""
                           << word << "\" under the top";
    }
}

TEST(Manual, ContentsLinkToSectionsAndTheFontsAreDejaVu) {
    ASSERT_TRUE(std::filesystem::exists(PDF));
    const std::string contents = pageText(2);
    EXPECT_NE(contents.find("Contents"), std::string::npos);
    EXPECT_NE(contents.find("Stamp Line Styles page"), std::string::npos);
    std::ifstream in(PDF, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t links = 0;
    for (std::size_t at = bytes.find("/Subtype /Link"); at != std::string::npos;
         at = bytes.find("/Subtype /Link", at + 1))
        ++links;
    EXPECT_GE(links, destinations().size() - 6) << "each contents entry links to its section";
    const std::string fonts = run("pdffonts '" + PDF + "'");
    EXPECT_NE(fonts.find("DejaVuSerif"), std::string::npos);
    EXPECT_NE(fonts.find("DejaVuSans-Bold"), std::string::npos);
    EXPECT_EQ(fonts.find("Helvetica"), std::string::npos);
}

}  // namespace
