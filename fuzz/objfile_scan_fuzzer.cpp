// QUARNEL's load, presence and occupancy scans over one input as the object
// file's content, on a small fixed target: flash 0-7FFF and 10000-13FFF,
// eight code blocks of 1000H with a 200H reserved tail. Each scan runs
// with a positive offset and with a negative one that wraps below 0.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "objfile/ObjectFileScanner.h"
#include "target/TargetSetup.h"

namespace {

class SilentUser : public quarnel::UserNotifier {
public:
    bool ShowMessage(quarnel::MessageStyle, const std::string&) override { return true; }
    void FocusField(quarnel::Field) override {}
};

quarnel::TargetGeometry MakeGeometry() {
    quarnel::TargetGeometry geometry;
    geometry.SetFlashAreas({{0x0000, 0x7FFF}, {0x10000, 0x13FFF}});
    geometry.codeBlockCount = 8;
    geometry.codeBlockSize = 0x1000;
    geometry.reservedTailSize = 0x200;
    geometry.preservedSize = 0x200;
    return geometry;
}

constexpr uint32_t kWindowStart = 0x40;
constexpr uint32_t kWindowEnd = 0x13FFF;
constexpr int32_t kOffsets[] = {0x10, -0x80};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const quarnel::TargetGeometry geometry = MakeGeometry();
    static SilentUser user;
    static quarnel::ObjectFileScanner scanner(geometry, user);
    // Exactly the sizes the program allocates, so that AddressSanitizer sees
    // any access past them; allocated once, since large blocks are costly
    // under AddressSanitizer.
    static std::vector<uint8_t> image(quarnel::WriteImageSize(geometry));
    static std::vector<uint8_t> occupied(size_t{geometry.OccupancyTop()} + 1);

    const quarnel::ObjectFileData file(std::string(reinterpret_cast<const char*>(data), size));
    scanner.SetWriteImage(image);
    for (const int32_t offset : kOffsets) {
        scanner.SetCurrentFile("fuzz.hex", offset);
        uint32_t lowest = 0;
        uint32_t highest = 0;
        scanner.LoadObjectFile(file, kWindowStart, kWindowEnd, true, lowest, highest);

        bool outsideFlash = false;
        bool inTail = false;
        scanner.ScanFlashPresence(file, kWindowStart, kWindowEnd, offset, outsideFlash, inTail);

        // memset rather than a loop, which coverage instrumentation would slow.
        std::memset(occupied.data(), 0, occupied.size());
        scanner.MarkOccupiedBytes(file, kWindowStart, kWindowEnd, offset, occupied);
    }
    return 0;
}
