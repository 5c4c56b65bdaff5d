// Helpers shared by the fuzz targets: a failed property aborts, so that
// libFuzzer keeps the input that broke it, and code that reads only from a
// path gets the input through an in-memory file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (false)

namespace fuzz {

// An anonymous in-memory file whose content is replaced by each Replace and
// that a reader opens by Path() ("/proc/self/fd/N"); no disk is touched.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("fuzz-input", 0)), path_("/proc/self/fd/" + std::to_string(fd_)) {
        if (fd_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void Replace(const uint8_t* data, size_t size) {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0);
        size_t written = 0;
        while (written < size) {
            const ssize_t n = pwrite(fd_, data + written, size - written, static_cast<off_t>(written));
            FUZZ_CHECK(n > 0);
            written += static_cast<size_t>(n);
        }
    }

    const std::string& Path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

}  // namespace fuzz
