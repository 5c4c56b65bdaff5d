#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quarnel::testing {

// A folder of its own for the locks of one test: the single-instance lock
// ($XDG_RUNTIME_DIR) and the machine-wide KORVO access lock
// ($QUARNEL_LOCK_DIR), so that tests running side by side never wait for
// each other. Removed with its content at the end.
struct LockDirectory {
  LockDirectory() {
    char pattern[] = "/tmp/quarnel-plug-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
    setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    setenv("QUARNEL_LOCK_DIR", path.c_str(), 1);
  }
  ~LockDirectory() { std::filesystem::remove_all(path); }
  std::string path;
};

}  // namespace quarnel::testing
