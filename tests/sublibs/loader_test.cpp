// Outside libraries found by their Windows names beside the add-on, and refused cleanly otherwise.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "frame/app.h"
#include "host/mdlresource.h"
#include "recode_fixture.h"
#include "settings/settings.h"
#include "subhost/host.h"

namespace fs = std::filesystem;
using recodetest::Library;

namespace {

// The libraryRefused events recorded since the transcript was cleared.
std::vector<nlohmann::json> refusals() {
    std::vector<nlohmann::json> found;
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == "libraryRefused") found.push_back(e);
    return found;
}

struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("recode-loader-" + std::to_string(::getpid()));
    TempFolder() { fs::create_directories(path); }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

TEST(Loader, WindowsNamesMapToTheSharedObjectsAndEntriesAreFoundByName) {
    for (const char* name : {"RECODESKEW.DLL", "recodeskew.dll", "ReCoDeSpEcKlE.Dll", "recodespeckle"}) {
        Library library(name);
        ASSERT_NE(library.module(), nullptr) << name;
    }
    Library deskew("RECODESKEW.DLL");
    for (const char* entry : {"DESKEW_Init", "DESKEW_Detect", "DESKEW_Correct", "DESKEW_Done"})
        EXPECT_NE(GetProcAddress(deskew.module(), entry), nullptr) << entry;
    Library despeckle("RECODESPECKLE.DLL");
    for (const char* entry : {"DESPECKLE_Init", "DESPECKLE_RemovePoints", "DESPECKLE_Done"})
        EXPECT_NE(GetProcAddress(despeckle.module(), entry), nullptr) << entry;
    // Each library has only its own entries.
    EXPECT_EQ(GetProcAddress(despeckle.module(), "DESKEW_Init"), nullptr);
    EXPECT_EQ(GetProcAddress(deskew.module(), "DESPECKLE_Init"), nullptr);
    EXPECT_EQ(GetProcAddress(deskew.module(), nullptr), nullptr);
}

TEST(Loader, UnknownHandlesAreRefusedAndLoadsAreCounted) {
    int local = 0;
    auto* bogus = reinterpret_cast<HMODULE>(&local);
    EXPECT_EQ(GetProcAddress(bogus, "DESKEW_Init"), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "DESKEW_Init"), nullptr);
    EXPECT_EQ(FreeLibrary(bogus), 0);
    EXPECT_EQ(FreeLibrary(nullptr), 0);

    ScopedEnv path("PIXELMEND_LIBRARY_PATH", PXMEND_BIN_DIR);
    HMODULE first = LoadLibraryA("RECODESKEW.DLL");
    HMODULE second = LoadLibraryA("RECODESKEW.DLL");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(FreeLibrary(first), 1);
    EXPECT_NE(GetProcAddress(second, "DESKEW_Detect"), nullptr);  // still loaded once
    EXPECT_EQ(FreeLibrary(second), 1);
    EXPECT_EQ(FreeLibrary(second), 0);
    EXPECT_EQ(GetProcAddress(second, "DESKEW_Detect"), nullptr);
}

TEST(Loader, ALibraryThatIsNotThereGivesNullAndAnEventWithTheReason) {
    TempFolder folder;
    // Renamed away: the file is there under another name only.
    fs::copy_file(fs::path(PXMEND_BIN_DIR) / "recodeskew.so", folder.path / "recodeskew-old.so");
    // Not a library at all under the right name.
    { std::ofstream(folder.path / "recodespeckle.so") << "not a shared object"; }
    ScopedEnv path("PIXELMEND_LIBRARY_PATH", folder.path.string());
    subhost::clearTranscript();
    EXPECT_EQ(LoadLibraryA("RECODESKEW.DLL"), nullptr);
    EXPECT_EQ(LoadLibraryA("RECODESPECKLE.DLL"), nullptr);
    EXPECT_EQ(LoadLibraryA("../bin/RECODESKEW.DLL"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    const auto events = refusals();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0]["name"], "RECODESKEW.DLL");
    EXPECT_NE(events[0]["reason"].get<std::string>().find("recodeskew.so not found in " + folder.path.string()),
              std::string::npos)
        << events[0];
    EXPECT_EQ(events[1]["name"], "RECODESPECKLE.DLL");
    EXPECT_NE(events[1]["reason"].get<std::string>().find((folder.path / "recodespeckle.so").string() + ": "),
              std::string::npos)
        << events[1];
    EXPECT_NE(events[2]["reason"].get<std::string>().find("folder part"), std::string::npos) << events[2];
}

TEST(Loader, ALibraryIsFoundBesideTheLoadedAddOnFirst) {
    TempFolder folder;
    fs::copy_file(fs::path(PXMEND_BIN_DIR) / "recodespeckle.so", folder.path / "recodespeckle.so");
    subhost::hostReset();
    v_addonStateReset();
    subhost::setCfgVar("PXMEND_SETTINGS", (folder.path / "Pxmend.ini").string());
    std::string error;
    ASSERT_TRUE(
        subhost::loadLinkedApplication(&MdlMain, &MdlResources, (folder.path / "pxmend.so").string(), "KEYIN", &error))
        << error;
    {
        ScopedEnv path("PIXELMEND_LIBRARY_PATH", "/nonexistent");
        HMODULE module = LoadLibraryA("RECODESPECKLE.DLL");
        EXPECT_NE(module, nullptr) << "found in the add-on's folder";
        EXPECT_NE(GetProcAddress(module, "DESPECKLE_RemovePoints"), nullptr);
        if (module) FreeLibrary(module);
        // Only there and on the path: the deskew library is in neither.
        EXPECT_EQ(LoadLibraryA("RECODESKEW.DLL"), nullptr);
    }
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    subhost::unloadApplication(0);
    subhost::hostReset();
}
