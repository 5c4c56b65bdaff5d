// ReadHEX over one input as the HEX file's content, into an image that ends
// exactly at maxAddress so that AddressSanitizer sees any store past it.
#include <vector>

#include "FuzzSupport.h"
#include "vestra.h"

namespace {
constexpr uint32_t kMaxAddress = 0xFFFF;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::MemoryFile file;
    file.Replace(data, size);
    std::vector<uint8_t> image(size_t{kMaxAddress} + 1, 0xFF);
    uint32_t lowest = 0;
    uint32_t highest = 0;
    // Valid or not, nothing above maxAddress was written, and a record with
    // a count of 0 may name any start address, so only the top is bounded.
    ReadHEX(file.Path().c_str(), image.data(), kMaxAddress, &lowest, &highest);
    FUZZ_CHECK(highest <= kMaxAddress);
    return 0;
}
