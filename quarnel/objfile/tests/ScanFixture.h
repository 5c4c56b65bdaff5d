#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "objfile/ObjectFileScanner.h"
#include "testing/RecordText.h"
#include "testing/RecordingUser.h"

namespace quarnel::testing {

inline ObjectFileData Lines(const std::vector<std::string>& lines) {
  std::string content;
  for (const std::string& line : lines) content += line + "\n";
  return ObjectFileData(std::move(content));
}

// A target with flash [0, 0xFFFF] and a write image of the same size, filled
// with 0xEE so that stored bytes stand out.
class ScanTest : public ::testing::Test {
 protected:
  static constexpr uint8_t kUntouched = 0xEE;

  ScanTest() : image(0x10000, kUntouched), scanner(geometry, user) {
    geometry.SetFlashAreas({{0x0000, 0xFFFF}});
    scanner.SetWriteImage(image);
    scanner.SetCurrentFile("/data/app.hex", 0);
  }

  // Load scan of the whole file address range, storing.
  bool Load(const ObjectFileData& file) { return scanner.LoadObjectFile(file, 0, 0xFFFFFFFF, true, lowest, highest); }

  TargetGeometry geometry;
  std::vector<uint8_t> image;
  RecordingUser user;
  ObjectFileScanner scanner;
  uint32_t lowest = 0;
  uint32_t highest = 0;
};

}  // namespace quarnel::testing
