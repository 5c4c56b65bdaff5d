// Reader for profile (INI) files such as the TRG target descriptions and the
// per-user Morvi.conf. Depends on the standard library only, so that other
// programs (the simulator) can compile it in.
//
// Format handled:
//   [Section]            section header; blanks around the name are ignored
//   Key = Value          blanks around key and value are removed
//   ; text               a line whose first non-blank character is ';' is a comment
// A ';' after a value belongs to the value (no trailing comments), as in the
// Windows profile functions. A value enclosed in a matching pair of double or
// single quotes is returned without them. Lines may end in CRLF or LF.
// Section and key names are compared without regard to ASCII case. When a
// section or a key repeats, the entries of a repeated section add to the
// first one and the first occurrence of a key wins.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestra::target {

class ProfileReader {
public:
    // Longest value text a lookup hands out (a 256-character buffer).
    static constexpr size_t kMaxValueLength = 255;

    // Replaces the held content with the file's. False if the file cannot be
    // read; lookups then give their defaults.
    bool load(const std::string& path);
    // Same as load, from text in memory.
    void parse(std::string_view text);

    // The value, cut to kMaxValueLength characters; defaultValue (cut the
    // same way) when the key is missing.
    std::string getString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // The value read as a decimal number (optional sign, then digits up to the
    // first other character; a value without leading digits is 0; wraps at 32
    // bits). defaultValue when the key is missing or its value is empty.
    uint32_t getInt(std::string_view section, std::string_view key, uint32_t defaultValue) const;
    // The whole value, not cut, or nothing when the key is missing.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;
    // The section's key names, lower-cased, in ascending order; none when
    // the section is missing.
    std::vector<std::string> keys(std::string_view section) const;

private:
    using Section = std::map<std::string, std::string, std::less<>>;

    // The stored value, or null when the key is missing.
    const std::string* lookup(std::string_view section, std::string_view key) const;

    // Lower-cased "section" -> lower-cased "key" -> value.
    std::map<std::string, Section, std::less<>> sections_;
};

}  // namespace vestra::target
