#include "VestraClient.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

namespace system_testing {
namespace {

VestraClient bind() {
    VestraClient client;
    client.handle = ::dlopen("libvestra.so", RTLD_NOW | RTLD_LOCAL);
    if (client.handle == nullptr) {
        client.loadError = ::dlerror();
        return client;
    }
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
