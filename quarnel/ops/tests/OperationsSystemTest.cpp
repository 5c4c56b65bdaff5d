// The operations through the guarded call layer over the real library,
// against korvo-sim with two emulators of KT4351235. Its flash areas leave
// out the read-only parts and the block without flash: 0-FFF, 1100-7FFF,
// A000-BFFF and C400-17DFF; 8 KiB blocks, the last code block 16000-17FFF
// with its preserved area at 17C00-17DFF and its reserved tail above.
#include <dlfcn.h>
#include <gmock/gmock.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "SystemFixture.h"
#include "binding/ApiTable.h"
#include "base/TextIds.h"
#include "ops/EraseOperation.h"
#include "ops/VerifyOperation.h"
#include "ops/WriteOperation.h"
#include "testing/RecordText.h"
#include "testing/RecordingWindow.h"

namespace quarnel::testing {
namespace {

using korvo::testing::SimProcess;
using ::testing::Contains;
using ::testing::Not;
using ::testing::StartsWith;

constexpr uint32_t kMemorySize = 0x18000;
const std::vector<FlashArea> kAreas{{0x0000, 0x0FFF}, {0x1100, 0x7FFF}, {0xA000, 0xBFFF}, {0xC400, 0x17DFF}};
constexpr uint32_t kTailFirst = 0x17E00;
constexpr uint32_t kTailLast = 0x17FFF;

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::string SRecordText(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 16) {
    const size_t count = std::min<size_t>(16, bytes.size() - i);
    text += SRecord('3', address + static_cast<uint32_t>(i), {bytes.begin() + i, bytes.begin() + i + count}) + "\n";
  }
  return text + SRecord('7', 0) + "\n";
}

bool InArea(uint32_t address) {
  return std::any_of(kAreas.begin(), kAreas.end(), [address](const FlashArea& a) { return a.start <= address && address <= a.end; });
}

class OperationsSystemTest : public system_testing::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    directory = simDir() + "-files";
    std::filesystem::create_directories(directory);
  }

  void Start(std::vector<std::string> extra) {
    std::vector<std::string> arguments{"--trg", SimProcess::sampleTrg("KT4351235"), "--emulators", "2"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    startSim(arguments);
    connect(2);
    plugAll("KT4351235");
    ASSERT_EQ(plugStatus(1), PlugSuccess);
    ASSERT_EQ(plugStatus(2), PlugSuccess);
    ASSERT_TRUE(BindApiTable([this](const char* name) { return ::dlsym(api->handle, name); }, table));
    const TRGINFO* set = targets();
    const CTargetInfo* info = nullptr;
    for (int32_t i = 0; i < set->count; ++i)
      if (std::strcmp(set->array[i].targetName, "KT4351235") == 0) info = &set->array[i];
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(ApplyTarget(*info, applied), ApplyOutcome::Applied);
    buffers.Rebuild();
  }
  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = directory + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
  }
  std::string WriteImageFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    return WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
  void List(const std::string& path) {
    ASSERT_TRUE(files.AddFileEntry({path, "", "", EndAddressMode::FileContent, ""}));
    window.messages.clear();
  }
  std::vector<uint8_t> Dump(unsigned k) {
    std::vector<uint8_t> bytes = dump(k);
    bytes.resize(std::max<size_t>(bytes.size(), kMemorySize), 0xFF);
    return bytes;
  }

  std::string directory;
  ApiTable table;
  GuardedApiTable guarded{table};
  AppliedTarget applied;
  FlashBuffers buffers{applied.geometry};
  RecordingWindow window;
  ObjectFileScanner scanner{applied.geometry, window};
  FileList files{applied.geometry, scanner, window};
  OperationContext context{guarded, window, applied, buffers, scanner, files};
};

TEST_F(OperationsSystemTest, FlashContentSpreadsToTheAddressesItWasReadFrom) {
  const std::vector<uint8_t> initial = RandomBytes(kMemorySize, 1);
  ASSERT_NO_FATAL_FAILURE(Start({"--image", WriteImageFile("initial.bin", initial)}));
  ASSERT_EQ(applied.geometry.areas.size(), kAreas.size());
  std::span<uint8_t> image = buffers.ReadBackImage();
  std::fill(image.begin(), image.end(), 0xA5);
  FlashBlockReader reader(context, "Reading");
  ASSERT_EQ(reader.Read(1, 0, static_cast<uint32_t>(image.size() - 1), image), ReadOutcome::Read);
  for (uint32_t a = 0; a < kMemorySize; ++a) {
    const bool read = InArea(a) || (a >= kTailFirst && a <= kTailLast);
    ASSERT_EQ(image[a], read ? initial[a] : 0xA5) << std::hex << a;
  }
}

TEST_F(OperationsSystemTest, WriteAndCheckOfHexAndSRecordFilesGivesTheExpectedFlashAndVerifyAgrees) {
  const std::vector<uint8_t> initial = RandomBytes(kMemorySize, 2);
  ASSERT_NO_FATAL_FAILURE(Start({"--image", WriteImageFile("initial.bin", initial)}));
  const std::vector<uint8_t> hexData = RandomBytes(0x400, 3);
  const std::vector<uint8_t> srecData = RandomBytes(0x300, 4);
  List(WriteFile("app.hex", IntelHexText(0x2100, hexData)));
  List(WriteFile("data.s", SRecordText(0xA100, srecData)));

  // Fill with the flash content, erase on, not fill off: blocks 1 to 5 are
  // rewritten in full where they hold flash (block 4 holds none), so the
  // flash keeps its content apart from the files.
  WriteSettings settings;
  settings.eraseBeforeWrite = true;
  settings.fillMode = FillMode::FlashContent;
  WriteOperation write(context);
  ASSERT_EQ(write.Run(settings), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Contains("Writing was completed normally. "));
  EXPECT_THAT(window.log, Contains("Erasing block# :  2 3 4 6 "));

  VerifyOperation verify(context);
  window.log.clear();
  ASSERT_EQ(verify.Run({FillMode::FlashContent, "", {}, {}}), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Not(Contains(" Address   File      Flash")));
  EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "No differences were detected."), 4);
  EXPECT_THAT(window.log, Contains(StartsWith("Verification of target 2 (")));
  EXPECT_EQ(window.log[window.log.size() - 2], "Verification was completed. ");

  disconnectAndStop();
  std::vector<uint8_t> expected = initial;
  std::copy(hexData.begin(), hexData.end(), expected.begin() + 0x2100);
  std::copy(srecData.begin(), srecData.end(), expected.begin() + 0xA100);
  for (unsigned k : {0u, 1u}) {
    const std::vector<uint8_t> flash = Dump(k);
    for (uint32_t a = 0; a < kMemorySize; ++a) {
      if (!InArea(a)) continue;
      ASSERT_EQ(flash[a], expected[a]) << "emulator " << k << " at " << std::hex << a;
    }
  }
}

TEST_F(OperationsSystemTest, ArbitraryFillWritesTheFillByteAcrossTheTouchedBlocks) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  const std::vector<uint8_t> hexData = RandomBytes(0x100, 5);
  List(WriteFile("app.hex", IntelHexText(0xA080, hexData)));
  WriteSettings settings;
  settings.fillMode = FillMode::ArbitraryData;
  settings.arbitraryData = "5A";
  WriteOperation write(context);
  ASSERT_EQ(write.Run(settings), OperationOutcome::Completed);
  disconnectAndStop();
  std::vector<uint8_t> expected(kMemorySize, 0xFF);
  std::fill(expected.begin() + 0xA000, expected.begin() + 0xC000, 0x5A);
  std::copy(hexData.begin(), hexData.end(), expected.begin() + 0xA080);
  for (unsigned k : {0u, 1u}) {
    const std::vector<uint8_t> flash = Dump(k);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin())) << "emulator " << k;
  }
}

TEST_F(OperationsSystemTest, OtherContentOnTheSecondEmulatorIsListedForTarget2Only) {
  const std::vector<uint8_t> hexData = RandomBytes(0x200, 6);
  std::vector<uint8_t> first(kMemorySize, 0xFF);
  std::copy(hexData.begin(), hexData.end(), first.begin() + 0x2000);
  std::vector<uint8_t> second = first;
  second[0x2010] ^= 0x01;
  second[0x2100] ^= 0x80;
  ASSERT_NO_FATAL_FAILURE(Start({"--image", WriteImageFile("first.bin", first), "--emulator", "1:image=" + WriteImageFile("second.bin", second)}));
  List(WriteFile("app.hex", IntelHexText(0x2000, hexData)));
  VerifyOperation verify(context);
  ASSERT_EQ(verify.Run({FillMode::FlashContent, "", {}, {}}), OperationOutcome::Completed);
  auto target2 = std::find_if(window.log.begin(), window.log.end(),
                              [](const std::string& line) { return line.starts_with("Verification of target 2 ("); });
  ASSERT_NE(target2, window.log.end());
  EXPECT_EQ(std::count(window.log.begin(), target2, "No differences were detected."), 1);
  EXPECT_EQ(std::count(target2, window.log.end(), " Address   File      Flash"), 1);
  EXPECT_THAT(std::vector<std::string>(target2, window.log.end()), Contains("2 differences were detected. "));
  EXPECT_THAT(std::vector<std::string>(target2, window.log.end()),
              Contains(Hex(" 02010H    %02XH       %02XH", hexData[0x10], second[0x2010])));
}

TEST_F(OperationsSystemTest, ErasingTheLastCodeBlockKeepsThePreservedArea) {
  const std::vector<uint8_t> initial = RandomBytes(kMemorySize, 7);
  ASSERT_NO_FATAL_FAILURE(Start({"--image", WriteImageFile("initial.bin", initial)}));
  applied.eraseBlocks[11].selected = 1;
  applied.eraseBlocks[2].selected = 1;
  EraseOperation erase(context);
  ASSERT_EQ(erase.Run(), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Contains("Erasing was completed normally. "));
  disconnectAndStop();
  for (unsigned k : {0u, 1u}) {
    const std::vector<uint8_t> flash = Dump(k);
    for (uint32_t a = 0; a < kMemorySize; ++a) {
      const bool erased = (a >= 0x4000 && a < 0x6000) || (a >= 0x16000 && a < 0x17C00);
      const bool preserved = a >= 0x17C00 && a < 0x17E00;
      if (erased) {
        ASSERT_EQ(flash[a], 0xFF) << std::hex << a;
      } else if (preserved || InArea(a)) {
        ASSERT_EQ(flash[a], initial[a]) << std::hex << a;
      }
    }
  }
}

// Costs one answer time-out of the link.
TEST_F(OperationsSystemTest, ASecondEmulatorFallingSilentMidWriteEndsWithTheFailedTargetLines) {
  ASSERT_NO_FATAL_FAILURE(Start({"--emulator", "1:fault=silent-after:40"}));
  List(WriteFile("big.hex", IntelHexText(0x0000, RandomBytes(0x8000, 8))));
  WriteSettings settings;
  settings.fillMode = FillMode::ArbitraryData;
  settings.arbitraryData = "FF";
  WriteOperation write(context);
  ASSERT_EQ(write.Run(settings), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Contains(StartsWith("Error: Target 2 (")));
  EXPECT_THAT(window.log, Not(Contains("Writing was completed normally. ")));
  EXPECT_EQ(window.log[window.log.size() - 2], "Error: Writing ended with errors on other targets. ");
  ASSERT_FALSE(window.messages.empty());
  EXPECT_EQ(window.messages.back().textId, text::kFailedTargetsList);
  EXPECT_EQ(guarded.Status(), 0);
}

}  // namespace
}  // namespace quarnel::testing
