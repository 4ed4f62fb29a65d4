// recodeskew's detection on real scanned pages, straightened by a measurement of their own and turned
// by known angles with a rotation that is not the library's: within a tenth of a degree, and no
// correction proposed for a page that is not turned. bench_deskew_accuracy prints the full table.
#include <gtest/gtest.h>

#include <cmath>

#include "recode_fixture.h"
#include "scan_pages.h"

using recodetest::Library;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

scanpages::Page scan(const std::string& name) {
    scanpages::Page page;
    std::string why;
    EXPECT_TRUE(scanpages::readScan(PXMEND_SOURCE_DIR "/tests/data/scans/" + name, &page, &why)) << why;
    return page;
}

class DeskewOnScans : public ::testing::Test {
protected:
    Library library{"RECODESKEW.DLL"};
    recode::DeskewInit init = library.entry<recode::DeskewInit>("DESKEW_Init");
    recode::DeskewDetect detectEntry = library.entry<recode::DeskewDetect>("DESKEW_Detect");
    recode::DeskewDone done = library.entry<recode::DeskewDone>("DESKEW_Done");
    std::int64_t session = init("PixelMend", "");

    void TearDown() override { EXPECT_EQ(done(session), 0); }
    // What the add-on asks: the skew within 10 degrees to 0.1.
    double detect(const scanpages::Page& page) {
        const scanpages::PageDib dib(page);
        return detectEntry(session, dib.handle(), 10.0, 0.1, -1, 0);
    }
};

}  // namespace

TEST_F(DeskewOnScans, TheReferenceMeasurementRecoversKnownTurnsOfAScan) {
    // The table is only as good as the straightening: the profile must find a turn it was given.
    const scanpages::Page page = scan("lucasta.1.300.tif");
    ASSERT_GT(page.width, 0);
    const double own = scanpages::profileSkew(page);
    EXPECT_NEAR(scanpages::profileSkew(scanpages::turned(page, -own)), 0.0, 0.03);
    for (const double a : {-3.3, 1.25, 4.0})
        EXPECT_NEAR(scanpages::profileSkew(scanpages::turned(page, a - own)), a, 0.03) << a;
    // Lines that rise to the right measure positive.
    EXPECT_GT(scanpages::profileSkew(scanpages::turned(page, 2.0)), own + 1.5);
}

TEST_F(DeskewOnScans, DetectsStraightenedScansTurnedByKnownAnglesWithinATenthOfADegree) {
    // Text in both polarities, two strips, music, a table, a poem: pages whose lines run straight across
    // (feyn and shearer.148 are bent, their halves differ by 0.2 and 0.5 degree; the tickets are turned
    // each its own way). Up to the limit of 10 degrees either way; fewer under the sanitizers.
    const std::vector<std::string> pages =
        kSanitized ? std::vector<std::string>{"witten.tif", "harmoniam-11.tif"}
                   : std::vector<std::string>{"witten.tif",        "pageseg1.tif", "harmoniam-11.tif",
                                              "lucasta.1.300.tif", "table.27.tif", "ortiz-02.tif"};
    const std::vector<double> angles =
        kSanitized ? std::vector<double>{-10, -2.5, 0, 0.8, 10}
                   : std::vector<double>{-10, -7.3, -5, -2.5, -1, -0.4, 0, 0.3, 0.8, 1.7, 3.2, 6.1, 9.5, 10};
    for (const std::string& name : pages) {
        const scanpages::Page page = scan(name);
        if (page.width == 0) continue;
        const double own = scanpages::profileSkew(page);
        for (const double a : angles) {
            const double found = detect(scanpages::turned(page, a - own));
            if (a == 0)
                EXPECT_EQ(found, 0.0) << name << ": a straightened page needs no correction";
            else
                EXPECT_NEAR(found, a, 0.1 + 1e-9) << name << " turned by " << a << " (own skew " << own << ")";
        }
    }
}
