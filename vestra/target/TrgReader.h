// Reading the TRG files into a target description set (TRGINFO). The set is
// handed to the caller, who returns it through deleteTargetInfoSet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "target/ProfileReader.h"
#include "vestra.h"

namespace vestra::target {

// Longest KORVO_VERSION text the record holds.
constexpr size_t kMaxVersionLength = sizeof(CTargetInfo::version) - 1;

// A KORVO_VERSION text as a number: every "." removed, the leading decimal
// digits read ("1.10" -> 110, "1.2" -> 12, "V1" -> 0).
uint32_t versionNumber(const std::string& version);

// Reads one TRG file into `info` (cleared first). False when the file is
// skipped: not enabled, a product ID wider than maxIdBits, both target IDs 0,
// or outside the format (more than 256 flash areas, read-only areas or
// resulting ranges, or a version of 10 or more characters).
bool readTargetInfo(const std::string& path, uint8_t maxIdBits, CTargetInfo& info);
// Same, from a description already read; targetName stands for the file's
// base name.
bool readTargetInfo(const ProfileReader& profile, const std::string& targetName, uint8_t maxIdBits,
                    CTargetInfo& info);

// Reads the given files in order; accepted ones are packed at the front of an
// array allocated for all of them. filesFound (if not null) receives the
// number of files. Null when there are no files or none was accepted.
TRGINFO* readTargetInfoSet(const std::vector<std::string>& paths, uint8_t maxIdBits, uint16_t* filesFound);

// Searches the TRG files (see findTrgFiles) and reads them.
TRGINFO* readTargetInfoFiles(uint8_t maxIdBits, uint16_t* filesFound);

// Frees a set made by readTargetInfoSet and nulls the caller's pointer: 1.
// A null pointer or a set without an array: 0, nothing changed.
int deleteTargetInfoSet(TRGINFO** set);

}  // namespace vestra::target
