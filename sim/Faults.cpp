#include "Faults.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace korvo {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

bool parseNumber(const std::string& text, int base, uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// Frame numbers count from 1.
bool parseFrame(const std::string& text, uint32_t& frame) { return parseNumber(text, 10, frame) && frame >= 1; }

bool parseOne(const std::vector<std::string>& fields, Faults& faults) {
    const std::string& kind = fields[0];
    uint32_t frame = 0;
    uint32_t value = 0;
    if (kind == "power-on") {
        faults.powerOn = fields.size() == 1;
        return faults.powerOn;
    }
    if (fields.size() == 2 && parseFrame(fields[1], frame)) {
        if (kind == "silent-after") {
            faults.silentAfter = frame;
        } else if (kind == "bad-seq") {
            faults.badSequenceAt.insert(frame);
        } else if (kind == "bad-signature") {
            faults.badSignatureAt.insert(frame);
        } else if (kind == "oversize") {
            faults.oversizeAt.insert(frame);
        } else if (kind == "short") {
            faults.shortAt.insert(frame);
        } else if (kind == "disconnect-after") {
            faults.disconnectAfter = frame;
        } else {
            return false;
        }
        return true;
    }
    if (fields.size() == 3 && parseFrame(fields[1], frame)) {
        if (kind == "status" && parseNumber(fields[2], 16, value) && value <= 0xFFFF) {
            faults.statusAt[frame] = static_cast<uint16_t>(value);
            return true;
        }
        if (kind == "late" && parseNumber(fields[2], 10, value)) {
            faults.lateMs[frame] = value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool parseFaults(const std::string& text, Faults& faults, std::string& error) {
    for (const std::string& item : split(text, ',')) {
        const std::vector<std::string> fields = split(item, ':');
        if (fields.empty() || !parseOne(fields, faults)) {
            error = "invalid fault \"" + item + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace korvo
