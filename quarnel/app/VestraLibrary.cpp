#include "app/VestraLibrary.h"

#include <dlfcn.h>

#include <filesystem>

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
  if (!handle_ && name.find('/') == std::string::npos) {
    const std::string beside = OwnDirectory() + "/" + name;
    handle_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!handle_) return Outcome::NotFound;
  const SymbolLookup lookup = [this](const char* symbol) { return dlsym(handle_, symbol); };
  if (!BindApiTable(lookup, table_, missing)) return Outcome::Invalid;
  BindOptionalExports(lookup, table_);
  return Outcome::Bound;
}

}  // namespace quarnel
