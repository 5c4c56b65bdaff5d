#include "target/TrgSearch.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "target/ProfileReader.h"
#include "usb/UserConfig.h"

namespace vestra::target {

namespace {

// A registry value was read into 260 bytes; a longer TrgPath finds nothing.
constexpr size_t kMaxTrgPathLength = 259;
constexpr std::string_view kToolBaseMarker = "%Z9TOOLBASE%";

std::string& programDirectoryOverride() {
    static std::string directory;
    return directory;
}

std::string withTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

bool hasTrgSuffix(const std::string& name) {
    if (name.size() < 4) return false;
    std::string suffix = name.substr(name.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return suffix == ".TRG";
}

std::string userTrgDirectory(const std::string& programDir) {
    const std::string configPath = usb::morviConfigPath();
    if (configPath.empty()) return {};
    ProfileReader config;
    if (!config.load(configPath)) return {};
    const auto value = config.find("Morvi", "TrgPath");
    if (!value || value->size() > kMaxTrgPathLength) return {};
    return expandTrgPath(*value, programDir);
}

}  // namespace

void setProgramDirectoryForTesting(const std::string& directory) {
    programDirectoryOverride() = withTrailingSlash(directory);
}

std::string programDirectory() {
    if (!programDirectoryOverride().empty()) return programDirectoryOverride();
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return withTrailingSlash(executable.parent_path().string());
}

std::string expandTrgPath(const std::string& value, const std::string& programDir) {
    std::string path = value;
    if (value.find(kToolBaseMarker) != std::string::npos) {
        std::string base = programDir;
        if (!base.empty() && base.back() == '/') base.pop_back();
        const size_t lastSlash = base.rfind('/');
        base = lastSlash == std::string::npos ? std::string{} : base.substr(0, lastSlash);
        path = base + value.substr(value.rfind('%') + 1);
    }
    return withTrailingSlash(path);
}

std::vector<std::string> listTrgFiles(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (hasTrgSuffix(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(directory + name);
    return paths;
}

std::vector<std::string> findTrgFiles() {
    const std::string programDir = programDirectory();
    if (programDir.empty()) return {};
    std::vector<std::string> files = listTrgFiles(programDir);
    if (!files.empty()) return files;
    const std::string userDir = userTrgDirectory(programDir);
    if (!userDir.empty()) files = listTrgFiles(userDir);
    if (!files.empty()) return files;
    return listTrgFiles(programDir + "../TRG/");
}

}  // namespace vestra::target
