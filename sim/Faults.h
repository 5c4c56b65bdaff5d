// Faults an emulator can be told to show, each tied to a request frame
// number counted from 1 on that emulator.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace korvo {

struct Faults {
    std::optional<uint32_t> silentAfter;      // no answer from this frame on, until a new connection
    std::map<uint32_t, uint16_t> statusAt;    // frame -> status answered instead of carrying it out
    std::set<uint32_t> badSequenceAt;         // answer carries the wrong sequence number
    std::set<uint32_t> badSignatureAt;        // answer begins "CHRM"
    std::set<uint32_t> oversizeAt;            // answer longer than the command's capacity
    std::set<uint32_t> shortAt;               // a read memory answer carries half the bytes asked for
    std::optional<uint32_t> disconnectAfter;  // drop the connection after this frame, refuse new ones
    bool powerOn = false;                     // system resets fail with status 1 until power-on state is removed
    std::map<uint32_t, uint32_t> lateMs;      // frame -> delay of its answer in milliseconds
};

// Adds the faults of a comma-separated list (the fault= value) to `faults`.
bool parseFaults(const std::string& text, Faults& faults, std::string& error);

}  // namespace korvo
