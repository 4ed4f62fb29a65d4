// Configuration variables, versions, design files, files and string lists.
#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "host/utf8text.h"
#include "subhost/host_fixture.h"

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("subhost-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }
    const fs::path& path() const { return path_; }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    fs::path path_;
};

TEST_F(HostTest, CfgVariablesAreDefinedCutAndExpanded) {
    wchar_t value[8];
    EXPECT_NE(mdlSystem_getCfgVar(value, L"NOPE", 8), 0);
    EXPECT_STREQ(value, L"");
    subhost::setCfgVar("ROOT", "/data");
    subhost::setCfgVar("DIR", "$(ROOT)/x");
    EXPECT_EQ(mdlSystem_getCfgVar(value, L"DIR", 8), 0);
    EXPECT_STREQ(value, L"/data/x");
    EXPECT_EQ(mdlSystem_getCfgVar(value, L"DIR", 4), 0);
    EXPECT_STREQ(value, L"/da");
    subhost::setCfgVar("EMPTY", "");
    EXPECT_EQ(mdlSystem_getCfgVar(value, L"EMPTY", 8), 0);
    subhost::setCfgVar("DIR", std::nullopt);
    EXPECT_NE(mdlSystem_getCfgVar(value, L"DIR", 8), 0);
}

TEST_F(HostTest, VersionDefaultsToTenSeventeen) {
    VersionNumber v{};
    mdlVersion_getVersionNumbers(&v);
    EXPECT_EQ(v.release, 10);
    EXPECT_EQ(v.major, 17);
    subhost::setVersion(8, 11);
    mdlVersion_getVersionNumbers(&v);
    EXPECT_EQ(v.release, 8);
    EXPECT_EQ(v.major, 11);
}

TEST_F(HostTest, BadDesignFilesAreRefusedNamingFileAndProblem) {
    TempDir dir;
    struct Case {
        std::string text;
        std::string problem;
    };
    const Case cases[] = {
        {"{\"name\": ", "not valid JSON"},
        {"[1,2]", "must be a JSON object"},
        {"{\"readOnly\": \"yes\"}", "readOnly"},
        {"{\"views\": [{\"origin\": [1, 2]}]}", "origin"},
        {"{\"views\": [{},{},{},{},{},{},{},{},{}]}", "too many views"},
        {"{\"colorTable\": [[1, 2, 256]]}", "colorTable"},
        // Nested 300 000 deep: refused before parsing, before anything recursive can overflow the stack.
        {"{\"elements\": " + std::string(300000, '[') + std::string(300000, ']') + "}", "the 64 levels"},
        // Brackets inside strings (after an escaped quote too) are text, not nesting.
        {"{\"name\": \"\\\"" + std::string(100, '[') + "\", \"readOnly\": \"yes\"}", "readOnly"},
    };
    load();
    for (const auto& c : cases) {
        const std::string path = dir.file("bad.json", c.text);
        std::string error;
        EXPECT_FALSE(subhost::openDesign(path, &error)) << c.text;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(subhost::openDesign((dir.path() / "missing.json").string(), &error));
    EXPECT_NE(error.find("not found"), std::string::npos);
    EXPECT_FALSE(subhost::openDesign(dir.path().string(), &error));
    EXPECT_EQ(mdlModelRef_getActive(), nullptr);
    EXPECT_TRUE(log().empty());  // no new-design-file callback for a refused file
}

TEST_F(HostTest, OpeningADesignClosesThePreviousOne) {
    TempDir dir;
    load();
    std::string error;
    ASSERT_TRUE(subhost::openDesign(dir.file("a.json", "{\"name\": \"a.dgn\", \"readOnly\": true}"), &error)) << error;
    EXPECT_TRUE(mdlModelRef_isReadOnly(mdlModelRef_getActive()));
    const std::string second = dir.file(
        "b.json", "{\"views\": [{\"rotation\": 0, \"origin\": [0,0,0], \"extent\": [1,1,0], \"fill\": true}]}");
    ASSERT_TRUE(subhost::openDesign(second, &error)) << error;
    EXPECT_FALSE(mdlModelRef_isReadOnly(mdlModelRef_getActive()));
    // A refused file leaves the open one as it is.
    EXPECT_FALSE(subhost::openDesign(dir.file("c.json", "junk"), &error));
    EXPECT_NE(mdlModelRef_getActive(), nullptr);
    subhost::closeDesign();
    EXPECT_EQ(log(), (std::vector<std::string>{"design:1:a.dgn", "design:0:a.dgn", "design:1:" + second,
                                               "design:0:" + second}));
}

TEST_F(HostTest, ElementColourIsTheNearestOfTheTable) {
    const RGBColorDef yellow{255, 255, 0}, almostRed{250, 3, 2};
    EXPECT_EQ(mdlColor_elementColorFromRGB(&yellow, nullptr), 4);
    EXPECT_EQ(mdlColor_elementColorFromRGB(&almostRed, nullptr), 3);
}

TEST_F(HostTest, FileFindSearchesTheDirectoriesOfACfgVariable) {
    TempDir dir;
    TempDir other;
    dir.file("help.pdf", "x");
    subhost::setCfgVar("HELPPATH", other.path().string() + ";" + dir.path().string() + "/");
    wchar_t found[MAXFILELENGTH];
    ASSERT_EQ(mdlFile_find(found, L"help", L"HELPPATH", L".pdf"), 0);
    EXPECT_EQ(std::wstring(found), (dir.path() / "help.pdf").wstring());
    EXPECT_NE(mdlFile_find(found, L"other.pdf", L"HELPPATH", nullptr), 0);
    EXPECT_NE(mdlFile_find(found, dir.path().wstring().c_str(), nullptr, nullptr), 0);  // a directory is no file
}

TEST_F(HostTest, FileNamesSplitAndJoin) {
    wchar_t dev[MAXDEVICELENGTH], dir[MAXDIRLENGTH], name[MAXNAMELENGTH], ext[MAXEXTENSIONLENGTH], full[MAXFILELENGTH];
    mdlFile_parseName(L"/opt/apps/pxmend.so", dev, dir, name, ext);
    EXPECT_STREQ(dev, L"");
    EXPECT_STREQ(dir, L"/opt/apps/");
    EXPECT_STREQ(name, L"pxmend");
    EXPECT_STREQ(ext, L"so");
    mdlFile_buildName(full, L"", L"/opt/apps", L"Pxmend", L"ini");
    EXPECT_STREQ(full, L"/opt/apps/Pxmend.ini");
    mdlFile_buildName(full, nullptr, L"/opt/apps/", nullptr, nullptr);
    EXPECT_STREQ(full, L"/opt/apps/");
    mdlFile_parseName(L".hidden", nullptr, dir, name, ext);
    EXPECT_STREQ(name, L".hidden");
    EXPECT_STREQ(ext, L"");
}

TEST_F(HostTest, FileCopyLeavesTheDestinationWhenItFails) {
    TempDir dir;
    const std::string dest = dir.file("dest.txt", "keep");
    EXPECT_NE(mdlFile_copy(w_utf8Widen(dest).c_str(), L"/nonexistent/src.txt"), 0);
    std::ifstream in(dest);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
}

TEST_F(HostTest, StringListsFromResourcesAndByHand) {
    load();
    StringList* list = mdlStringList_loadResource(nullptr, 100);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(mdlStringList_size(list), 2);
    WCharCP text = nullptr;
    InfoField* info = nullptr;
    ASSERT_EQ(mdlStringList_getMember(&text, &info, list, 1), 0);
    EXPECT_STREQ(text, L"second");
    EXPECT_EQ(info[1], 4);
    EXPECT_NE(mdlStringList_getMember(&text, &info, list, 2), 0);
    EXPECT_EQ(mdlStringList_insertMember(list, -1, L"third"), 2);
    const InfoField newInfo[2] = {7, 8};
    EXPECT_EQ(mdlStringList_setMember(list, 2, nullptr, newInfo), 0);
    mdlStringList_getMember(&text, &info, list, 2);
    EXPECT_STREQ(text, L"third");
    EXPECT_EQ(info[0], 7);
    mdlStringList_destroy(list);
    EXPECT_EQ(mdlStringList_size(list), 0);  // a destroyed list is no list
    EXPECT_EQ(mdlStringList_loadResource(nullptr, 999), nullptr);
}

TEST_F(HostTest, SaveRewritesTheDescriptionOrKeepsItWhole) {
    TempDir dir;
    const std::string path = dir.file("site.json", R"({"name": "site.dgn", "views": [{"fill": true}], "extra": 1})");
    std::string error;
    EXPECT_FALSE(subhost::saveDesign(&error));  // no design open
    ASSERT_TRUE(subhost::openDesign(path, &error)) << error;
    ASSERT_TRUE(subhost::saveDesign(&error)) << error;
    std::ifstream in(path);
    const auto saved = nlohmann::json::parse(in);
    EXPECT_EQ(saved, nlohmann::json::parse(R"({"name": "site.dgn", "views": [{"fill": true}], "extra": 1})"));
    // A save that cannot write its temporary file whole (here: a file size limit the system enforces,
    // whoever the user) leaves the description as it was and says why.
    std::ofstream(path, std::ios::trunc) << "original";
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const rlimit small{16, before.rlim_max};
    auto* previous = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool saved2 = subhost::saveDesign(&error);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved2);
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_EQ(e.path().filename(), "site.json");
    std::ifstream again(path);
    std::string text;
    again >> text;
    EXPECT_EQ(text, "original");
}
