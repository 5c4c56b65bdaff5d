#include "target/ProfileReader.h"

#include <fstream>
#include <sstream>

namespace vestra::target {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char loweredChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = loweredChar(c);
    return result;
}

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string_view cut(std::string_view value) { return value.substr(0, ProfileReader::kMaxValueLength); }

// The entry of a map keyed by lower-cased names for a name of any case.
// Names are lowered on the stack when short, as lookups are many and the
// names they use are short.
template <typename Map>
typename Map::const_iterator findLowered(const Map& map, std::string_view name) {
    constexpr size_t kShortName = 64;
    if (name.size() > kShortName) return map.find(lowered(name));
    char buffer[kShortName];
    for (size_t i = 0; i < name.size(); ++i) buffer[i] = loweredChar(name[i]);
    return map.find(std::string_view(buffer, name.size()));
}

}  // namespace

bool ProfileReader::load(const std::string& path) {
    sections_.clear();
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) return false;
    parse(content.str());
    return true;
}

void ProfileReader::parse(std::string_view text) {
    sections_.clear();
    // Keys before the first section header belong to no section and are never found.
    Section* current = nullptr;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            const std::string_view name = line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1);
            current = &sections_[lowered(trimmed(name))];
            continue;
        }
        const size_t equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos) continue;
        const std::string key = lowered(trimmed(line.substr(0, equals)));
        current->try_emplace(key, unquoted(trimmed(line.substr(equals + 1))));
    }
}

const std::string* ProfileReader::lookup(std::string_view section, std::string_view key) const {
    const auto sectionIt = findLowered(sections_, section);
    if (sectionIt == sections_.end()) return nullptr;
    const auto keyIt = findLowered(sectionIt->second, key);
    return keyIt == sectionIt->second.end() ? nullptr : &keyIt->second;
}

std::optional<std::string> ProfileReader::find(std::string_view section, std::string_view key) const {
    const std::string* value = lookup(section, key);
    if (value == nullptr) return std::nullopt;
    return *value;
}

std::vector<std::string> ProfileReader::keys(std::string_view section) const {
    std::vector<std::string> names;
    const auto sectionIt = findLowered(sections_, section);
    if (sectionIt == sections_.end()) return names;
    for (const auto& entry : sectionIt->second) names.push_back(entry.first);
    return names;
}

std::string ProfileReader::getString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    const std::string* value = lookup(section, key);
    return std::string(cut(value != nullptr ? std::string_view(*value) : defaultValue));
}

uint32_t ProfileReader::getInt(std::string_view section, std::string_view key, uint32_t defaultValue) const {
    // The default stands for a missing key; a present but empty value reads as 0.
    const std::string* found = lookup(section, key);
    if (found == nullptr) return defaultValue;
    const std::string_view value = cut(*found);
    if (value.empty()) return 0;
    size_t pos = 0;
    const bool negative = value[0] == '-';
    if (value[0] == '-' || value[0] == '+') pos = 1;
    uint32_t number = 0;
    for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
        number = number * 10u + static_cast<uint32_t>(value[pos] - '0');
    }
    return negative ? 0u - number : number;
}

}  // namespace vestra::target
