// Where the TRG target description files are looked for.
#pragma once

#include <string>
#include <vector>

namespace vestra::target {

// Directory of the running executable, ending in '/'.
std::string programDirectory();

// Replaces the program directory for tests (which cannot move their own
// executable); an empty text restores the real one.
void setProgramDirectoryForTesting(const std::string& directory);

// The directory named by a TrgPath value: "%Z9TOOLBASE%" (case-sensitive)
// makes everything up to and including the value's last '%' the tool base
// directory (the program directory without its trailing '/' and its last
// component). Ends in '/'; empty when nothing is to be searched.
std::string expandTrgPath(const std::string& value, const std::string& programDir);

// Entries of `directory` whose names end in ".TRG" in any case (directories
// so named included), as full paths sorted by name: Linux lists a directory
// in no stable order, and a fixed order keeps the target list stable.
std::vector<std::string> listTrgFiles(const std::string& directory);

// The files of the first place that has any: the program directory, the
// per-user TrgPath (key TrgPath of section [Morvi] in Morvi.conf), the
// program directory's sibling ../TRG. Empty when none has a file.
std::vector<std::string> findTrgFiles();

}  // namespace vestra::target
