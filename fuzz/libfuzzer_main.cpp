// libFuzzer's entry for one kind of input: PXMEND_FUZZ_KIND names the namespace of
// the target (raster, script or design) this binary is built for.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pxfuzz::PXMEND_FUZZ_KIND::fuzzOne(data, size);
}
