#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "image/FileList.h"
#include "image/FlashBuffers.h"
#include "ops/OperationContext.h"
#include "testing/FakeApi.h"
#include "testing/RecordText.h"
#include "testing/RecordingWindow.h"

namespace quarnel::testing {

// Erase blocks of 4 KiB, 32 code blocks of 4 KiB, 512-byte preserved area
// and reserved tail. Flash [0, 7FFF] and [9000, 1FDFF]: block 8 has no
// flash, and the second area ends at the reserved tail.
class OpsTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kBlock = 0x1000;

  OpsTest() {
    TargetGeometry& g = target.geometry;
    g.SetFlashAreas({{0x0000, 0x7FFF}, {0x9000, 0x1FDFF}});
    g.eraseBlockSize = kBlock;
    g.codeBlockCount = 0x20;
    g.codeBlockSize = kBlock;
    g.reservedTailSize = 0x200;
    g.preservedSize = 0x200;
    g.contentTailSize = 0x200;
    for (uint32_t start = 0; start < 0x20000; start += kBlock)
      target.eraseBlocks.push_back({start, start + kBlock - 1, 0, g.AnyAreaIntersects(start, start + kBlock - 1)});
    buffers.Rebuild();
    char pattern[] = "/tmp/quarnel_ops_XXXXXX";
    directory = mkdtemp(pattern);
  }
  ~OpsTest() override { std::filesystem::remove_all(directory); }

  static std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
  }
  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = directory + "/" + name;
    std::ofstream(path, std::ios::trunc) << text;
    return path;
  }
  // Lists the file with its end at its last byte (or at `arbitraryEnd`).
  void List(const std::string& path, const std::string& arbitraryEnd = {}) {
    const EndAddressMode mode = arbitraryEnd.empty() ? EndAddressMode::FileContent : EndAddressMode::Arbitrary;
    ASSERT_TRUE(files.AddFileEntry({path, "", "", mode, arbitraryEnd}));
    window.messages.clear();
  }
  void Store(size_t target, uint32_t address, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), api.memory[target].begin() + address);
  }
  void Fill(size_t target, uint32_t first, uint32_t last, uint8_t value) {
    std::fill(api.memory[target].begin() + first, api.memory[target].begin() + last + 1, value);
  }
  void UseTwoTargets() {
    api.SetTargetCount(2);
    api.memory[1] = api.memory[0];
  }

  AppliedTarget target;
  FlashBuffers buffers{target.geometry};
  RecordingWindow window;
  ObjectFileScanner scanner{target.geometry, window};
  FileList files{target.geometry, scanner, window};
  FakeApi api{target.geometry, 1, 0x20000};
  OperationContext context{api, window, target, buffers, scanner, files};
  std::string directory;
};

}  // namespace quarnel::testing
