#include "base/StringTable.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace quarnel {
namespace {

struct TextEntry {
  int id;
  std::string_view text;
};

#define FAMILY_A \
  "The QUARNEL Flash Writer may be malfunctioning.\nCheck the connection, and then restart QUARNEL and the KORVO.\n"
#define FAMILY_B "Failed to access the target LSI.\nCheck the user target system connected to the KORVO.\n"
#define FAMILY_C "Failed to communicate with the KORVO.\nCheck the connection.\n"
#define FAMILY_D "Internal QUARNEL error.\n"
#define NOT_CONNECTED "KORVO is not connected. Check the connection. (Error code: 1005)"
#define NO_DATA_IN_WINDOW "No data is found between \"Start Address on File\" and \"End Address on File\"."

// Sorted by number; LoadText relies on it for its binary search.
constexpr std::array kTexts{
    TextEntry{104, "QUARNEL Version Information..."},
    TextEntry{105, "QUARNEL"},
    TextEntry{106, "Select File to write"},
    TextEntry{109, "Intel HEX file(*.hex)|*.hex|Motorola S file(*.s)|*.s|"},
    TextEntry{110, FAMILY_A "(Error code: 0x6000)"},
    TextEntry{111, FAMILY_A "(Error code: 0x6001)"},
    TextEntry{112, FAMILY_A "(Error code: 0x6002)"},
    TextEntry{113, FAMILY_A "(Error code: 0x6003)"},
    TextEntry{114, "File Name"},
    TextEntry{115, "Start Address"},
    TextEntry{116, "Offset"},
    TextEntry{117, "End Address"},
    TextEntry{118, FAMILY_A "(Error code: 0x6304)"},
    TextEntry{119, FAMILY_B "(Error code: 0x6305)"},
    TextEntry{121, FAMILY_A "(Error code: 0x6306)"},
    TextEntry{123, "Do you want to start writing?"},
    TextEntry{124, "Do you want to cancel writing?"},
    TextEntry{128, "Block #"},
    TextEntry{129, "Start Address"},
    TextEntry{130, "End Address"},
    TextEntry{131, FAMILY_B "(Error code: 0x6309)"},
    TextEntry{132, "Not Fill the Area excluding Files"},
    TextEntry{133, "Add 2 Word Data after Files"},
    TextEntry{134,
              "When flash memory is not erase before writing, there is a possibility that the existing data "
              "may be overwritten. In this case, the existing data changes to an unfixed value. Do you wanto "
              "to continue?"},
    TextEntry{135,
              "Since there is additional data, data may be written in a different block from the block which "
              "you intended. Do you want to continue?"},
    TextEntry{136, "Do you want to Unplug?"},
    TextEntry{137, FAMILY_B "(Error code: 0x6302)"},
    TextEntry{138, "The target LSI has changed to "},
    TextEntry{139, "A wrong value was input to the \"Security ID\" entry field."},
    TextEntry{141, FAMILY_C "(Error code: 0x0001)"},
    TextEntry{142, FAMILY_B "(Error code: 0x6307)"},
    TextEntry{143, FAMILY_B "(Error code: 0x6308)"},
    TextEntry{144, FAMILY_A "(Error code: 0x630A)"},
    TextEntry{145, FAMILY_B "(Error code: 0x6100)"},
    TextEntry{146, "The selected target does not match target LSI."},
    TextEntry{148, FAMILY_A "(Error code: 0x630C)"},
    TextEntry{149, FAMILY_B "(Error code: 0x6300)"},
    TextEntry{151, "Do you want to start erasure?"},
    TextEntry{152, "Do you want to cancel erasure?"},
    TextEntry{153,
              "Error acquiring firmware version. Please confirm connection to the target system.\n"
              "Terminate QUARNEL."},
    TextEntry{154,
              "Different firmware version. Please update New Firmware.\nTerminate QUARNEL.\n"
              "Firmware version : "},
    // The library is loaded by this name, so it is the platform's file name.
    TextEntry{156, "libvestra.so"},
    TextEntry{158, "Do you want to start verification?"},
    TextEntry{159, "Do you want to cancel verification?"},
    TextEntry{160, "Do you want clear log?"},
    TextEntry{161, "Save log"},
    TextEntry{162, "Log file(*.log)|*.log|All files(*.*)|*.*|"},
    TextEntry{163, "Flash memory write address is a duplication of an address of a registered file."},
    TextEntry{165, "Activation was canceled because the TRG files were not found."},
    TextEntry{166, "Flash memory content was read. "},
    TextEntry{167, "Writing  "},
    TextEntry{169, "Filename for writing"},
    TextEntry{170, "Content of flash memory"},
    TextEntry{171, "Writing was interrupted. "},
    TextEntry{172, "Writing was completed normally. "},
    TextEntry{173, "Verification  "},
    TextEntry{174, "Filename for verification"},
    TextEntry{175, "No differences were detected."},
    TextEntry{176, "differences were detected. "},
    TextEntry{177, "Verification was interrupted. "},
    TextEntry{178, "Verification was completed. "},
    TextEntry{179, "Erasing block# :  "},
    TextEntry{180, "Erasing was interrupted. "},
    TextEntry{181, "Erasing  "},
    TextEntry{182, "Erasing was completed normally. "},
    TextEntry{183, NO_DATA_IN_WINDOW},
    TextEntry{184, NO_DATA_IN_WINDOW},
    TextEntry{185, "Erase Flash Memory before Write"},
    TextEntry{186, " not found."},
    TextEntry{188, "Do you want to exit QUARNEL?"},
    TextEntry{189, "Invalid "},
    TextEntry{191, "Erase"},
    TextEntry{192, "Status"},
    TextEntry{193, NOT_CONNECTED},
    TextEntry{204, "Flash Start"},
    TextEntry{2000, "An illegal value was input to the \"Start Address on File\" entry field."},
    TextEntry{2001, "An illegal value was input to the \"Flash Memory Offset\" entry field."},
    TextEntry{2002, "An illegal value was input to the \"Arbitrary Data\" entry field."},
    TextEntry{2003, "An illegal value was input to the \"Arbitrary Address\" entry field."},
    TextEntry{2005, "End address on file has not been input to the \"Arbitrary Address\" entry field."},
    TextEntry{2007, "An illegal end record was found in %1."},
    TextEntry{2008, "A checksum error occurred in %1."},
    TextEntry{2009, "A checksum error occurred in %1."},
    TextEntry{2010, "An invalid end record was found in %1."},
    TextEntry{2011, "No valid end record was found in %1."},
    TextEntry{2012, "No valid data record was found in %1."},
    TextEntry{2013, "%1 could not be opened."},
    TextEntry{2014, "Value in \"Start Address on File\" is greater than the one in \"Arbitrary Address\"."},
    TextEntry{2015, "The error occurred in flash memory writing process."},
    TextEntry{2016, "The error occurred in flash memory erasing process."},
    TextEntry{2017, "The error occurred in flash memory reading process."},
    TextEntry{2021, "The format of %1 is illegal."},
    TextEntry{2022, "Value has not been input to the \"Arbitrary Data\" of \"Address-Filling Data\" entry field."},
    TextEntry{2023, "Data record having duplicate addresses was found included in %1."},
    TextEntry{2024, FAMILY_D "(Error code:2024)"},
    TextEntry{2025, FAMILY_D "(Error code:2025)"},
    TextEntry{2026, FAMILY_D "(Error code:2026)"},
    TextEntry{2028, FAMILY_D "(Error code:2028)"},
    TextEntry{2032, FAMILY_B "(Error code: 0x6303)"},
    TextEntry{2035, FAMILY_C "(Error code:1000)"},
    TextEntry{2036, FAMILY_C "(Error code:1001)"},
    TextEntry{2037, FAMILY_A "(Error code:1002)"},
    TextEntry{2038, FAMILY_A "(Error code:1004)"},
    TextEntry{2039, NOT_CONNECTED},
    TextEntry{2040, FAMILY_D "(Error code:1006)"},
    TextEntry{2041, FAMILY_D "(Error code:1007)"},
    TextEntry{2042, FAMILY_D "(Error code:1008)"},
    TextEntry{2043, FAMILY_D "(Error code:1009)"},
    TextEntry{2044, FAMILY_D "(Error code:1010)"},
    TextEntry{2045, FAMILY_D "(Error code:1011)"},
    TextEntry{2046, FAMILY_D "(Error code:1012)"},
    TextEntry{2047, FAMILY_D "(Error code:1013)"},
    TextEntry{2050, FAMILY_A "(Error code: 0xFFFF)"},
    TextEntry{2051, FAMILY_A "(Error code:1003)"},
    TextEntry{2052, "Security ID Check"},
    TextEntry{2067, "Several TRG files with the version not supported were skipped."},
    TextEntry{2068,
              "Activation was canceled because the TRG files were not read.\n"
              "Several TRG files with the version not supported were skipped."},
    TextEntry{2069, "Specified target device is not supported."},
    TextEntry{2070, "Write data include address where Flash memory is not built in."},
    TextEntry{3000, "%1 has changed since it was listed.\nDo you want to use the new content?"},
    TextEntry{3001, "Target %1 failed: "},
    TextEntry{3002, "The operation failed on these targets:"},
    TextEntry{3003, "Writing ended with errors on other targets. "},
    TextEntry{3004, "Erasing ended with errors on other targets. "},
    TextEntry{3005, "Verification of target %1"},
    TextEntry{3006, "Verification ended with errors on other targets. "},
    TextEntry{3007, "Target %1 could not be read: "},
    // Save Log could not create or complete the file; the old file is kept.
    TextEntry{3008, "%1 could not be saved."},
    // An Intel HEX record whose bases push it past 4 GiB, or an S record
    // running past FFFFFFFFH: no byte of it is stored anywhere.
    TextEntry{3009, "%1 holds a data record whose address does not fit in 32 bits."},
    // The file is larger than any content the selected target's flash could take.
    TextEntry{3010, "%1 is too large for the flash memory of the selected target."},
};

#undef FAMILY_A
#undef FAMILY_B
#undef FAMILY_C
#undef FAMILY_D
#undef NOT_CONNECTED
#undef NO_DATA_IN_WINDOW

static_assert(std::is_sorted(kTexts.begin(), kTexts.end(),
                             [](const TextEntry& a, const TextEntry& b) { return a.id < b.id; }));

}  // namespace

std::string_view LoadText(int textId) {
  auto it = std::lower_bound(kTexts.begin(), kTexts.end(), textId,
                             [](const TextEntry& entry, int id) { return entry.id < id; });
  if (it == kTexts.end() || it->id != textId) return {};
  return it->text;
}

std::string FormatText(int textId, std::string_view fileName) {
  constexpr std::string_view kPlaceholder = "%1";
  std::string_view text = LoadText(textId);
  std::string result;
  for (size_t pos = 0;;) {
    size_t found = text.find(kPlaceholder, pos);
    if (found == std::string_view::npos) {
      result.append(text.substr(pos));
      return result;
    }
    result.append(text.substr(pos, found - pos)).append(fileName);
    pos = found + kPlaceholder.size();
  }
}

}  // namespace quarnel
