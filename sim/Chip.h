// The target chip on one simulated emulator: its flash memory, read
// protection and identity, as its TRG description gives them.
#pragma once

#include <array>
#include <ostream>
#include <cstdint>
#include <string>
#include <vector>

namespace korvo {

// One run of flash, both ends inclusive.
struct FlashRange {
    uint32_t start;
    uint32_t end;
};

struct ChipDescription {
    std::vector<FlashRange> flash;  // ascending, disjoint, not touching
    uint32_t blockSize = 0;
    std::array<uint32_t, 4> productId{};  // word 0 = TARGETID00 ... word 3 = TARGETID96
    bool eraseOnlyBySecurityId = false;   // security type 1: chip erase cannot lift protection
    std::string chipName;
};

// Reads a TRG file into the description of its chip. The chip's flash is
// made of the file's MMAP and GMAP flash areas, read-only areas included;
// when the highest area stops the reserved tail short of its block's end,
// the tail is flash too. Returns false with `error` set when the file
// cannot be read or describes no usable chip.
bool describeChipFromTrg(const std::string& path, ChipDescription& chip, std::string& error);

// Decimal digits of a file's base name ("dir/A12B34.TRG" -> "1234").
std::string chipNameFromPath(const std::string& path);

class Chip {
public:
    // Answered by the protection read while the chip is protected.
    static constexpr uint16_t kProtectedWord = 0x0001;
    // Upper bound of the flash the simulator allocates for one chip.
    static constexpr uint64_t kMaxFlashBytes = 256u << 20;

    explicit Chip(ChipDescription description);

    const ChipDescription& description() const { return description_; }

    // True when every byte of [address, address + length) is flash.
    bool isFlash(uint32_t address, uint32_t length) const;
    // True when some byte of [address, address + length) is flash.
    bool touchesFlash(uint32_t address, uint32_t length) const;

    // Bytes without memory read as 0xFF.
    void read(uint32_t address, uint32_t length, uint8_t* out) const;
    // Programming only clears bits: new = old AND data. Caller checks isFlash.
    void program(uint32_t address, const uint8_t* data, uint32_t length);
    // Sets the flash bytes of [address, address + length) to 0xFF.
    void erase(uint32_t address, uint32_t length);
    void eraseAll();

    // Loads `image` from address 0 on; bytes that fall outside flash are dropped.
    void loadImage(const std::vector<uint8_t>& image);
    // Whole memory from address 0 to the end of the highest flash range.
    void writeDump(std::ostream& out) const;

    // Read protection: set with the ID words that unlock it.
    void protect(std::vector<uint16_t> securityId);
    bool isProtected() const { return protected_; }
    // Lifts the protection when `words` are exactly the security ID.
    void unlock(const std::vector<uint16_t>& words);
    // Chip erase: erases and lifts protection unless the chip is protected
    // and of the type that only its security ID unlocks. False if refused.
    bool chipErase();

private:
    struct Bank {
        FlashRange range;
        std::vector<uint8_t> bytes;
    };
    // Calls visit(bank, offset in bank, offset in the request, count) for
    // each part of [address, address + length) that lies in a bank.
    template <typename Banks, typename Visit>
    static void forEachOverlap(Banks& banks, uint32_t address, uint32_t length, Visit visit);

    ChipDescription description_;
    std::vector<Bank> banks_;
    std::vector<uint16_t> securityId_;
    bool protected_ = false;
};

}  // namespace korvo
