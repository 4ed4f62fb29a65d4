// Entry points of the hostile-input campaign: one function per kind of outside
// input, each taking arbitrary bytes and driving the host's own code with them.
// The same functions are run by libFuzzer (fuzz/libfuzzer_main.cpp, built with
// -DPXMEND_FUZZ=ON and clang) and by the bounded mutation loop of tests/fuzz.
//
// A case passes when the function returns: every failure the input provokes must
// come back as the host's own refusal or error text. A crash, a sanitizer report,
// an exception thrown out of the function or a case that runs for seconds is a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pxfuzz {

namespace raster {
// Takes the bytes of a raster file, writes them to a file, reads its header and
// pixels through the codecs and writes what was read back; gives 0. Throws nothing.
int fuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace raster

namespace script {
// Takes the text of a session script, runs it with the add-on in a scratch folder
// that holds a tiny design and raster; gives 0. Throws nothing.
int fuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace script

namespace design {
// Takes the text of a design file, opens it (from a file and as a document) beside a
// tiny raster and draws view 0 at a small size; gives 0. Throws nothing.
int fuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace design

// Throws std::logic_error when an event of the host's transcript holds a text of the JSON
// library itself ("[json.exception..."): outside input must be refused in words that name
// the key and what it must be, not in the library's.
void checkTranscriptWords();

// The scratch folder the targets work in: made on first use below the system's
// temporary folder, one per process, with the user's settings folder pointed into
// it so that no case touches the real one.
const std::string& scratchFolder();

// Lays the scratch folder anew for one case: a 64 x 48 monochrome G4 TIFF scan.tif, a
// 32 x 24 colour PNG photo.png and a design site.json attaching both, every other file
// removed; gives the folder. Throws std::runtime_error when the folder cannot be laid.
const std::string& freshScratch();

}  // namespace pxfuzz
