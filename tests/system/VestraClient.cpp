#include "VestraClient.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace system_testing {
namespace {

constexpr const char* kLibraryName = "libvestra.so";

// By name first, as RUNPATH $ORIGIN finds it beside the program. Under the
// sanitizers dlopen is intercepted and the lookup no longer sees the
// program's RUNPATH, so the program's own directory is tried explicitly.
void* openLibrary(std::string& error) {
    if (void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL)) return handle;
    error = ::dlerror();
    const std::filesystem::path besideProgram =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / kLibraryName;
    void* handle = ::dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) error += std::string("; ") + ::dlerror();
    return handle;
}

VestraClient bind() {
    VestraClient client;
    client.handle = openLibrary(client.loadError);
    if (client.handle == nullptr) return client;
#define VESTRA_CLIENT_BIND(name)                                                        \
    client.name = reinterpret_cast<decltype(client.name)>(::dlsym(client.handle, #name)); \
    if (client.name == nullptr) client.missing.push_back(#name);
    VESTRA_EXPORTS(VESTRA_CLIENT_BIND)
#undef VESTRA_CLIENT_BIND
    client.apiObj = ::dlsym(client.handle, "ApiObj");
    return client;
}

}  // namespace

VestraClient& loadVestra(const std::string& simDir) {
    static VestraClient client = [&simDir] {
        // The library chooses its USB backend at its first call, and looks
        // for TRG files under the per-user configuration before ../TRG.
        const std::filesystem::path config = std::filesystem::path(simDir).parent_path() / "config";
        std::filesystem::create_directories(config);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::setenv("KORVO_SIM_DIR", simDir.c_str(), 1);
        return bind();
    }();
    return client;
}

}  // namespace system_testing
