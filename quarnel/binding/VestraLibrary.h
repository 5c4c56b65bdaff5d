#pragma once

#include <string>

#include "binding/ApiTable.h"

namespace quarnel {

// libvestra.so loaded by name and bound: the table of its exports. Unloaded
// when this object ends.
class VestraLibrary {
 public:
  enum class Outcome { Bound, NotFound, Invalid };

  VestraLibrary() = default;
  ~VestraLibrary();
  VestraLibrary(const VestraLibrary&) = delete;
  VestraLibrary& operator=(const VestraLibrary&) = delete;

  // Loads `name` through the normal library search and, when that fails for
  // a plain name, from the program's own directory or its ../lib (a
  // sanitized build skips RUNPATH for plain names); then binds the exports
  // in their fixed order.
  // Invalid names the first missing export in `missing`.
  Outcome Load(const std::string& name, std::string* missing = nullptr);

  const ApiTable& Table() const { return table_; }

  // What the user is told when loading the library came to `outcome` (not
  // Bound): "libvestra.so not found.", "Invalid libvestra.so".
  static std::string FailureText(Outcome outcome);

 private:
  void* handle_ = nullptr;
  ApiTable table_;
};

}  // namespace quarnel
