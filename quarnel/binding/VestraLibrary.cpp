#include "binding/VestraLibrary.h"

#include <dlfcn.h>

#include <filesystem>

#include "base/StringTable.h"
#include "base/TextIds.h"

namespace quarnel {
namespace {

std::string OwnDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

}  // namespace

VestraLibrary::~VestraLibrary() {
  if (handle_) dlclose(handle_);
}

VestraLibrary::Outcome VestraLibrary::Load(const std::string& name, std::string* missing) {
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  // The programs' RUNPATH names the same two places: beside them in a build
  // tree, ../lib in an installed one.
  if (name.find('/') == std::string::npos) {
    for (const char* place : {"/", "/../lib/"})
      if (!handle_) handle_ = dlopen((OwnDirectory() + place + name).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!handle_) return Outcome::NotFound;
  const SymbolLookup lookup = [this](const char* symbol) { return dlsym(handle_, symbol); };
  if (!BindApiTable(lookup, table_, missing)) return Outcome::Invalid;
  BindOptionalExports(lookup, table_);
  return Outcome::Bound;
}

std::string VestraLibrary::FailureText(Outcome outcome) {
  const std::string name(LoadText(text::kLibraryName));
  if (outcome == Outcome::NotFound) return name + std::string(LoadText(text::kNotFound));
  return std::string(LoadText(text::kInvalid)) + name;
}

}  // namespace quarnel
