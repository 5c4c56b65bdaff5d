// korvo-sim's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Emulator.h"
#include "Faults.h"

namespace korvo {

constexpr unsigned kMaxEmulators = 32;
constexpr char kDefaultFirmware[] = "9.99";

// What one emulator is set up with: the global options, then its own keys.
struct EmulatorSettings {
    std::string trg;
    std::string firmware = kDefaultFirmware;
    std::string securityId;  // hexadecimal text, four digits a word; empty: not protected
    std::string image;
    std::string chipName;  // empty: the decimal digits of the TRG base name
    Faults faults;
};

struct Options {
    bool help = false;
    bool verbose = false;
    bool dump = false;
    std::string dir;  // empty: a new directory under $XDG_RUNTIME_DIR or /tmp
    Timing timing;
    std::vector<EmulatorSettings> emulators;  // one per emulator, in socket order
};

// Parses argv[1..]; false with `error` set on a bad command line.
bool parseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);

// Security ID words from hexadecimal text, four digits a word.
bool parseSecurityId(const std::string& text, std::vector<uint16_t>& words, std::string& error);

std::string helpText();

}  // namespace korvo
