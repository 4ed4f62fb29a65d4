// Writing an edited raster back: a file that another program changed on disk since the host read it
// is not overwritten; the edit is kept in a new file beside it.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "raster/bitmap.h"
#include "raster_fixture.h"

namespace testraster {
namespace {

using WriteBack = RasterTest;

img::Image greyImage(int width, int height, std::uint8_t value) {
    img::Image image = img::makeImage(width, height, img::ColorMode::Grey8).image;
    std::fill(image.pixels.begin(), image.pixels.end(), value);
    image.compression = img::Compression::None;
    return image;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// Reads the whole raster through the add-on, sets every pixel to 7 and writes it back (in memory).
void editAll(RasterTarget* target) {
    ASSERT_NE(target, nullptr);
    std::uint8_t* bytes = nullptr;
    PixelFormat format{target->transferColorMode, 0, {}};
    BitmapSize size{};
    ASSERT_EQ(j_bitmapRead(&bytes, &format, &target->wholeBlock, &size), SUCCESS);
    std::fill(bytes, bytes + j_bitmapBytes(&size), std::uint8_t(7));
    EXPECT_EQ(j_bitmapWrite(bytes, &format, &target->wholeBlock, &size), SUCCESS);
    std::free(bytes);
}

// Another program's save, two ways: rewriting the file in place (same inode, new size or time), and
// renaming a new file of the same size and modification time over it (only the inode differs).
TEST_F(WriteBack, AFileChangedOnDiskKeepsTheOtherVersionAndTheEditGoesBesideIt) {
    s__globals.Backup = 0;
    const std::string inPlace = write("inplace.tif", greyImage(30, 20, 200));
    const std::string renamed = write("renamed.tif", greyImage(30, 20, 200));
    const std::string theirs = write("theirs.tif", greyImage(30, 20, 90));
    auto rasters = attach({{{"file", "inplace.tif"}}, {{"file", "renamed.tif"}}});
    editAll(load(rasters[0]));
    editAll(load(rasters[1]));

    std::ofstream(inPlace, std::ios::binary | std::ios::trunc) << fileBytes(theirs) << "later";
    const struct stat before = statOf(renamed);
    ASSERT_EQ(statOf(theirs).st_size, before.st_size);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, theirs.c_str(), times, 0), 0);
    fs::rename(theirs, renamed);
    const std::string inPlaceTheirs = fileBytes(inPlace), renamedTheirs = fileBytes(renamed);

    EXPECT_FALSE(subhost::raster::flushAll());
    EXPECT_EQ(fileBytes(inPlace), inPlaceTheirs);
    EXPECT_EQ(fileBytes(renamed), renamedTheirs);
    for (const char* kept : {"inplace-conflict.tif", "renamed-conflict.tif"}) {
        const img::ImageResult edit = img::readImage(path(kept));
        ASSERT_TRUE(edit.ok) << kept << ": " << edit.error;
        EXPECT_EQ(edit.image.pixels[0], 7) << kept;
    }
    int told = 0;
    for (const auto& e : subhost::transcript())
        told += e.value("event", "") == "messageCenter" && e.value("priority", 0) == 10 &&
                e.value("brief", "").find("-conflict.tif") != std::string::npos;
    EXPECT_EQ(told, 2);

    // A second save of the same edit does not pile up copies.
    EXPECT_TRUE(subhost::raster::flushAll());
    EXPECT_FALSE(fs::exists(path("inplace-conflict2.tif")));
}

}  // namespace
}  // namespace testraster
