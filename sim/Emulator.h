// One simulated KORVO emulator with its target chip: takes request frames,
// carries the commands out on the chip and produces the answer frames,
// with the faults it was told to show. Knows nothing of sockets or time;
// EmulatorServer delivers the answers when they are due.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Chip.h"
#include "Faults.h"

namespace korvo {

// Answer statuses of the simulated emulator (payload bytes 0-1).
enum EmulatorStatus : uint16_t {
    kStatusOk = 0x0000,
    kStatusCommunicationFailed = 0x0001,  // frame length disagrees with its header; system reset in power-on state
    kStatusUnknownCommand = 0x6001,       // command or information query code not known
    kStatusMalformedCommand = 0x6002,     // payload length, constant bytes, address-space byte or reset mode wrong
    kStatusNotBlockStart = 0x6302,        // block erase address is not the first address of a block
    kStatusOutsideFlash = 0x6305,         // write or erase reaches outside the chip's flash
    kStatusReadProtected = 0x6307,        // flash read-protected; or chip erase of a chip only its ID unlocks
};

// Result bytes of the reset commands: bit 0 the target was reset, bit 1 it
// runs under the emulator's control.
enum : uint8_t {
    kResetResultPlain = 0x01,      // system reset mode 0
    kResetResultConnected = 0x03,  // system reset mode 1, remove power-on state
};

// Durations of the flash commands, counted from their arrival.
struct Timing {
    std::chrono::microseconds write{0};
    std::chrono::microseconds blockErase{0};
    std::chrono::microseconds chipErase{0};
};

struct EmulatorSetup {
    std::string name;      // "korvo-00", used in log lines
    std::string firmware;  // answer to the firmware version query
    Faults faults;
    Timing timing;
};

// What becomes of one request frame.
struct Outcome {
    std::optional<std::vector<uint8_t>> answer;  // none: the emulator stays silent
    std::chrono::microseconds delay{0};          // time before the answer leaves
    bool dropConnection = false;                 // close the connection once the answer is out
};

// Values of the last set-target-info command.
struct TargetInfoRecord {
    uint16_t romWindowStart = 0;
    uint16_t romWindowEnd = 0;
    uint32_t flashAddress = 0;
};

using LogSink = std::function<void(const std::string&)>;

class Emulator {
public:
    // `log` receives one readable line per frame when set; a request's line
    // ends in ": " and what the emulator read the command as.
    Emulator(EmulatorSetup setup, Chip chip, LogSink log = {});

    Outcome handleFrame(const uint8_t* data, size_t size);

    // A host connected (an open or a bus reset): a silenced emulator answers again.
    void connectionOpened();
    bool refusesConnections() const { return refusing_; }

    const std::string& name() const { return setup_.name; }
    const Chip& chip() const { return chip_; }
    std::optional<TargetInfoRecord> targetInfo() const { return targetInfo_; }
    uint32_t errorIndications() const { return errorIndications_; }

    // For tests that drive the emulator in-process: faults armed between
    // frames take effect from the next frame (numbers keep counting from the
    // first frame received), and the chip is set up directly.
    Faults& faults() { return setup_.faults; }
    uint32_t framesReceived() const { return framesReceived_; }
    Chip& chip() { return chip_; }

private:
    struct Reply {
        std::vector<uint8_t> payload;     // status first
        size_t capacity = 2;              // longest well-formed answer payload
        std::chrono::microseconds busy{0};
        std::string note;                 // readable form of the command
    };

    Reply execute(const std::vector<uint8_t>& payload);
    Reply writeMemory(const std::vector<uint8_t>& p);
    Reply readMemory(const std::vector<uint8_t>& p);
    Reply eraseChip(const std::vector<uint8_t>& p);
    Reply eraseBlock(const std::vector<uint8_t>& p);
    Reply unlockProtection(const std::vector<uint8_t>& p);
    Reply readProtection(const std::vector<uint8_t>& p);
    Reply chipReset(const std::vector<uint8_t>& p);
    Reply systemReset(const std::vector<uint8_t>& p);
    Reply readProductId(const std::vector<uint8_t>& p, size_t words);
    Reply setTargetInfo(const std::vector<uint8_t>& p);
    Reply removePowerOnState(const std::vector<uint8_t>& p);
    Reply informationQuery(const std::vector<uint8_t>& p);

    Outcome answer(uint32_t frame, uint8_t sequence, Reply reply);
    void log(const std::string& line) const;

    EmulatorSetup setup_;
    Chip chip_;
    LogSink log_;
    uint32_t framesReceived_ = 0;
    bool silenced_ = false;
    bool silenceSpent_ = false;
    bool refusing_ = false;
    bool powerOnRemoved_ = false;  // the power-on fault holds until then
    std::optional<TargetInfoRecord> targetInfo_;
    uint32_t errorIndications_ = 0;
};

}  // namespace korvo
