#include "Options.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <map>
#include <optional>
#include <set>

namespace korvo {
namespace {

constexpr size_t kMaxSecurityIdWords = 127;
const std::set<std::string, std::less<>> kValueOptions = {
    "--trg",      "--emulators",      "--dir",           "--firmware", "--security-id", "--image",
    "--emulator", "--write-us",       "--block-erase-us", "--chip-erase-us"};

struct EmulatorKey {
    unsigned index;
    std::string key;
    std::string value;
};

bool parseUnsigned(const std::string& text, uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, 10);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool parseEmulatorKey(const std::string& text, EmulatorKey& key) {
    const size_t colon = text.find(':');
    const size_t equals = text.find('=', colon == std::string::npos ? 0 : colon);
    uint64_t index = 0;
    if (colon == std::string::npos || equals == std::string::npos || !parseUnsigned(text.substr(0, colon), index) ||
        index >= kMaxEmulators) {
        return false;
    }
    key = {static_cast<unsigned>(index), text.substr(colon + 1, equals - colon - 1), text.substr(equals + 1)};
    return true;
}

bool applyKey(EmulatorSettings& settings, const std::string& key, const std::string& value, std::string& error) {
    if (key == "trg") {
        settings.trg = value;
    } else if (key == "firmware") {
        settings.firmware = value;
    } else if (key == "security-id") {
        settings.securityId = value;
    } else if (key == "image") {
        settings.image = value;
    } else if (key == "chip-name") {
        settings.chipName = value;
    } else if (key == "fault") {
        return parseFaults(value, settings.faults, error);
    } else {
        error = "unknown emulator key \"" + key + "\"";
        return false;
    }
    return true;
}

// Splits "--name=value" into its two halves.
std::pair<std::string, std::optional<std::string>> splitInlineValue(const std::string& argument) {
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) {
        return {argument, std::nullopt};
    }
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

bool parseMicroseconds(const std::string& text, std::chrono::microseconds& value) {
    uint64_t number = 0;
    if (!parseUnsigned(text, number) || number > 3600ull * 1000 * 1000) {
        return false;
    }
    value = std::chrono::microseconds(number);
    return true;
}

// Checks each emulator's settings that can be checked without files.
bool validate(const Options& options, std::string& error) {
    for (size_t k = 0; k < options.emulators.size(); ++k) {
        const EmulatorSettings& settings = options.emulators[k];
        std::vector<uint16_t> words;
        if (settings.trg.empty()) {
            error = "emulator " + std::to_string(k) + " has no TRG file (--trg)";
            return false;
        }
        if (!settings.securityId.empty() && !parseSecurityId(settings.securityId, words, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseSecurityId(const std::string& text, std::vector<uint16_t>& words, std::string& error) {
    words.clear();
    const bool hexOnly = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!hexOnly || text.size() % 4 != 0 || text.size() / 4 > kMaxSecurityIdWords) {
        error = "invalid security ID \"" + text + "\": hexadecimal digits, four a word, 1 to 127 words";
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 4) {
        uint16_t word = 0;
        std::from_chars(text.data() + i, text.data() + i + 4, word, 16);
        words.push_back(word);
    }
    return true;
}

bool parseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    EmulatorSettings common;
    std::vector<EmulatorKey> keys;
    uint64_t count = 1;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const auto [name, inlineValue] = splitInlineValue(arguments[i]);
        auto value = [&, name = name, inlineValue = inlineValue]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            error = "option " + name + " needs a value";
            return std::nullopt;
        };
        std::optional<std::string> text;
        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "-v" || name == "--verbose") {
            options.verbose = true;
        } else if (name == "--dump") {
            options.dump = true;
        } else if (kValueOptions.count(name) == 0) {
            error = "unknown option " + name;
            return false;
        } else if (!(text = value())) {
            return false;
        } else if (name == "--trg") {
            common.trg = *text;
        } else if (name == "--emulators") {
            if (!parseUnsigned(*text, count) || count < 1 || count > kMaxEmulators) {
                error = "--emulators takes a number from 1 to 32";
                return false;
            }
        } else if (name == "--dir") {
            options.dir = *text;
        } else if (name == "--firmware") {
            common.firmware = *text;
        } else if (name == "--security-id") {
            common.securityId = *text;
        } else if (name == "--image") {
            common.image = *text;
        } else if (name == "--emulator") {
            EmulatorKey key;
            if (!parseEmulatorKey(*text, key)) {
                error = "--emulator takes K:KEY=VALUE with K from 0 to 31, not \"" + *text + "\"";
                return false;
            }
            keys.push_back(key);
        } else if (name == "--write-us") {
            if (!parseMicroseconds(*text, options.timing.write)) {
                error = "--write-us takes microseconds";
                return false;
            }
        } else if (name == "--block-erase-us") {
            if (!parseMicroseconds(*text, options.timing.blockErase)) {
                error = "--block-erase-us takes microseconds";
                return false;
            }
        } else if (name == "--chip-erase-us") {
            if (!parseMicroseconds(*text, options.timing.chipErase)) {
                error = "--chip-erase-us takes microseconds";
                return false;
            }
        }
    }
    if (options.help) {
        return true;
    }
    options.emulators.assign(count, common);
    for (const EmulatorKey& key : keys) {
        if (key.index >= count) {
            error = "--emulator " + std::to_string(key.index) + " names an emulator beyond --emulators " +
                    std::to_string(count);
            return false;
        }
        if (!applyKey(options.emulators[key.index], key.key, key.value, error)) {
            return false;
        }
    }
    return validate(options, error);
}

std::string helpText() {
    return R"(korvo-sim: simulated KORVO emulators, each with a target chip.

Usage:
  korvo-sim --trg FILE [--emulators N] [--dir DIR] [--firmware TEXT]
            [--security-id HEX] [--image FILE] [--dump]
            [--emulator K:KEY=VALUE ...] [--write-us US] [--block-erase-us US]
            [--chip-erase-us US] [-v]

Creates N Unix SOCK_SEQPACKET sockets korvo-00, korvo-01, ... in DIR, one
emulator each. When all listen it prints the single line
  KORVO_SIM_DIR=<absolute dir>
on standard output. Set KORVO_SIM_DIR to that directory and VESTRA uses these
emulators instead of USB devices. It runs until SIGINT or SIGTERM, then
removes its sockets.

Options:
  --trg FILE           target description the chips follow: their flash areas
                       (MMAP and GMAP flash areas, read-only areas included;
                       the reserved tail of the last block is flash too),
                       block size, product ID (word 0 = TARGETID00,
                       1 = TARGETID32, 2 = TARGETID64, 3 = TARGETID96),
                       security type (bit 23 of TARGETID32); the chip name is
                       the decimal digits of the file's base name. Required
                       (or trg= for every emulator).
  --emulators N        number of emulators, 1 to 32 (default 1).
  --dir DIR            socket directory, created if missing (default: a new
                       directory under $XDG_RUNTIME_DIR, else /tmp).
  --firmware TEXT      firmware version text answered to information query
                       3F02 (default 9.99).
  --security-id HEX    the chips start read-protected and are unlocked by
                       exactly these ID words: hexadecimal text, four digits a
                       word, 1 to 127 words (e.g. 0123456789AB = 3 words).
  --image FILE         initial memory from address 0 (raw binary); bytes
                       outside flash are dropped, the rest of flash is erased.
  --dump               on exit, write each emulator's whole chip memory (from
                       address 0 to the end of its flash, gaps as FF) to
                       DIR/korvo-NN.bin.
  --emulator K:KEY=VALUE
                       sets KEY for emulator K (0-based) alone. Keys: trg,
                       firmware, security-id, image, chip-name (chip name
                       text instead of the TRG name's digits), fault.
  --write-us US        time a write memory command takes (default 0).
  --block-erase-us US  time a block erase takes (default 0).
  --chip-erase-us US   time a chip erase takes (default 0).
                       Times are microseconds; each emulator keeps its own
                       clock, so emulators work in parallel.
  -v, --verbose        log every frame and connection on standard error.
  -h, --help           this text.

Faults (fault=F1,F2,...; N counts request frames on that emulator from 1):
  silent-after:N       no answer from frame N on, until the host reconnects
                       (a bus reset revives the emulator once).
  status:N:CODE        frame N is not carried out and is answered with status
                       CODE (hexadecimal).
  bad-seq:N            the answer to frame N carries the next sequence number.
  bad-signature:N      the answer to frame N begins "CHRM" instead of "CHPM".
  oversize:N           the answer to frame N is one byte longer than the
                       command's answer capacity (for the information query:
                       than a 255-character text).
  short:N              when frame N is a read memory command, its answer
                       announces and carries only half the bytes asked for.
  disconnect-after:N   the connection is dropped after the answer to frame N,
                       and every later connection is refused.
  power-on             system resets answer status 0001 until remove
                       power-on state is received.
  late:N:MS            frame N is carried out at once, its answer leaves only
                       after MS milliseconds.

Connections: one host at a time. The emulator greets the connection it takes
on with the single byte 4B; any other connection is closed at once (a second
open of a busy emulator fails). A reconnect is a bus reset: answers not yet
read are lost with the old connection, requests not yet read are discarded.
While a command runs (its duration, or a late answer) the next request
waits; an answer that comes due after a reconnect goes to the new connection.

Chip: erased bytes are FF; writing only clears bits (new = old AND data);
block and chip erase set FF. Reads of addresses without memory give FF.
A read-protected chip answers protection word 0001 (0000 when open).

Answer statuses:
  0000  carried out
  0001  frame length disagrees with its header; system reset in power-on state
  6001  unknown command or information query code
  6002  malformed command (payload length, constant bytes, address-space byte,
        more than 1000 data bytes, reset mode other than 0 and 1)
  6302  block erase address is not the first address of a block
  6305  write or block erase outside the chip's flash
  6307  read, write or block erase while read-protected; chip erase while
        read-protected on a chip of security type 1
Frames shorter than 16 bytes, or not beginning "CHRM" 01, get no answer.
System reset result byte: 01 for mode 0, 03 for mode 1; remove power-on
state answers 03. Unlock protection always answers 0000; with wrong words the
chip stays protected. Set target info and error indications (query 7FFF)
are recorded and logged with -v.
)";
}

}  // namespace korvo
