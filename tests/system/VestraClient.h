// libvestra.so loaded with dlopen by its plain name and all 39 exports bound
// with dlsym, the way a program that uses the library binds it.
#pragma once

#include <string>
#include <vector>

#include "vestra.h"

namespace system_testing {

struct VestraClient {
#define VESTRA_CLIENT_POINTER(name) decltype(&::name) name = nullptr;
    VESTRA_EXPORTS(VESTRA_CLIENT_POINTER)
#undef VESTRA_CLIENT_POINTER

    void* handle = nullptr;
    void* apiObj = nullptr;              // the exported data symbol
    std::vector<std::string> missing;    // names dlsym did not find
    std::string loadError;
};

// Loads the library once per process, after pointing it at `simDir`
// (KORVO_SIM_DIR) and at an empty per-user configuration, so that it uses
// korvo-sim and finds the TRG samples in ../TRG.
VestraClient& loadVestra(const std::string& simDir);

}  // namespace system_testing
