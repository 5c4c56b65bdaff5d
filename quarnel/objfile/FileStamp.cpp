#include "objfile/FileStamp.h"

#include <sys/stat.h>

namespace quarnel {

FileStamp ReadFileStamp(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  constexpr int64_t kNsPerSecond = 1000000000;
  return FileStamp{true, static_cast<int64_t>(info.st_size),
                   static_cast<int64_t>(info.st_mtim.tv_sec) * kNsPerSecond + info.st_mtim.tv_nsec};
}

}  // namespace quarnel
