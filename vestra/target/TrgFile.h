// The pieces of the TRG target description format that both the library's
// reader and the simulator need: ID decoding, value syntaxes, flash areas and
// their reduction to flash ranges. Depends on the standard library and the
// public header only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "target/ProfileReader.h"
#include "vestra.h"

namespace vestra::target {

// Geometry coded in the target IDs (basic or extended format, by bit 30 of
// TARGETID00).
struct TrgGeometry {
    uint32_t blockSize;
    uint32_t reservedSize1;
    uint32_t reservedSize2;
};
TrgGeometry decodeGeometry(uint32_t targetId00, uint32_t targetId32, uint32_t targetId64);

// True when bit 30 of TARGETID00 selects the extended ID format.
bool isExtendedIdFormat(uint32_t targetId00);

// Hexadecimal digits up to the first other character ("1234H" -> 0x1234,
// "" -> 0); wraps at 32 bits.
uint32_t readHexValue(const std::string& text);

// The user's address syntax: optional "0x", hexadecimal digits, optional
// trailing "H", optional segment prefix "ss:" counting 64 KiB. value is set
// to 0 first; for an invalid text it keeps what was taken before the fault
// (0, or the segment part alone when only the offset is bad).
bool AdrsToNumText(std::string_view text, uint32_t& value);

// value scaled by 2^e, e being the low `bits` bits of code read as a two's
// complement number; bits other than 2, 3 and 4 give 0.
uint32_t Calc2BitShift(uint32_t value, uint8_t code, int bits);

// Size of a reserved area from its 3-bit code (3 -> 0, else 512 scaled).
uint32_t reservedSizeFromCode(uint32_t code);

// Entry numbers above this are not read from a section's NUMBER (bounds the
// work a damaged file can cause).
constexpr uint32_t kMaxEntryNumber = 65535;

// MMAP and GMAP flash areas as the file declares them (before read-only areas
// are taken out), in file order. GMAP areas starting at 0x80000 or above are
// left out. testAreaStart (if not null) receives the start of the MMAP "TEST"
// entry, 0 if there is none.
std::vector<CTargetArea> readFlashAreas(const ProfileReader& profile, uint32_t* testAreaStart);

// Ends of the first PMAP "ROMWIN" entry; {0, 0} when there is none.
CTargetArea readRomWindow(const ProfileReader& profile);

// Read-only entries beyond this many are not read: a description with more
// than VESTRA_MAX_AREAS of them is outside the format whatever they hold.
constexpr uint32_t kMaxReadOnlyAreasRead = VESTRA_MAX_AREAS + 1;

// The KORVO_READONLY_AREA entries in file order, at most kMaxReadOnlyAreasRead.
std::vector<CTargetArea> readReadOnlyAreas(const ProfileReader& profile);

// Addresses covered by some flash area and by no read-only area, as maximal
// runs in ascending order (overlapping and touching areas merge). Areas whose
// start is above their end contribute nothing.
std::vector<CTargetArea> computeFlashRanges(const std::vector<CTargetArea>& flashAreas,
                                            const std::vector<CTargetArea>& readOnlyAreas);

}  // namespace vestra::target
