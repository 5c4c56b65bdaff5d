// quarnel-cli as a production line runs it: a real process against
// korvo-sim, judged by its exit code, its JSON result and the simulated
// chips' memory dumps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "base/NamedLock.h"

namespace {

namespace fs = std::filesystem;
using korvo::testing::SimProcess;

// KT51456: flash 0 to 0FDFFH.
constexpr uint32_t kFlashEnd = 0xFDFF;
constexpr uint32_t kFileStart = 0x1000;
constexpr uint32_t kFileSize = 0x600;
constexpr uint32_t kSerialAddress = 0x3000;
constexpr uint32_t kFirstSerial = 0x1234FE;

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> FileBytes() {
  std::vector<uint8_t> bytes(kFileSize);
  for (uint32_t i = 0; i < kFileSize; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

std::string IntelHex(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string text;
  char line[64];
  for (size_t offset = 0; offset < bytes.size(); offset += 16) {
    const size_t count = std::min<size_t>(16, bytes.size() - offset);
    const uint32_t at = address + static_cast<uint32_t>(offset);
    unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
    std::snprintf(line, sizeof line, ":%02zX%04X00", count, at & 0xFFFF);
    text += line;
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(line, sizeof line, "%02X", bytes[offset + i]);
      text += line;
      sum += bytes[offset + i];
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  return text + ":00000001FF\n";
}

// The flash after writing the file with the default options: the fill byte
// 0FFH everywhere but the file's bytes and target n's serial number.
std::vector<uint8_t> ExpectedFlash(std::optional<uint32_t> target) {
  std::vector<uint8_t> image(kFlashEnd + 1, 0xFF);
  const std::vector<uint8_t> file = FileBytes();
  std::copy(file.begin(), file.end(), image.begin() + kFileStart);
  if (target) {
    const uint32_t serial = kFirstSerial + *target - 1;
    for (int k = 0; k < 4; ++k) image[kSerialAddress + k] = static_cast<uint8_t>(serial >> (24 - 8 * k));
  }
  return image;
}

class CliSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarnel-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "sim");
    fs::create_directories(dir_ / "config");
    hexPath_ = (dir_ / "app.hex").string();
    std::ofstream(hexPath_) << IntelHex(kFileStart, FileBytes());
    env_ = {{"XDG_RUNTIME_DIR", dir_.string()},
            {"XDG_CONFIG_HOME", (dir_ / "config").string()},
            {"KORVO_SIM_DIR", (dir_ / "sim").string()}};
  }
  void TearDown() override {
    sim_.reset();
    fs::remove_all(dir_);
  }

  void StartSim(std::vector<std::string> arguments) {
    sim_.reset();
    for (const auto& entry : fs::directory_iterator(dir_ / "sim")) fs::remove(entry.path());
    arguments.insert(arguments.begin(), {"--trg", SimProcess::sampleTrg("KT51456"), "--dir", (dir_ / "sim").string(), "--dump"});
    sim_ = std::make_unique<SimProcess>(std::move(arguments));
    ASSERT_TRUE(sim_->start());
  }

  std::vector<uint8_t> StopAndDump(unsigned k) {
    if (sim_ && sim_->running()) sim_->stop();
    char name[32];
    std::snprintf(name, sizeof name, "korvo-%02u.bin", k);
    const std::string bytes = ReadFile(dir_ / "sim" / name);
    std::vector<uint8_t> flash(bytes.begin(), bytes.end());
    if (flash.size() > kFlashEnd + 1) flash.resize(kFlashEnd + 1);
    return flash;
  }

  CliResult Cli(const std::vector<std::string>& arguments) {
    const fs::path out = dir_ / "out.txt";
    const fs::path err = dir_ / "err.txt";
    const pid_t pid = fork();
    if (pid == 0) {
      for (const auto& [name, value] : env_) setenv(name.c_str(), value.c_str(), 1);
      const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(outFd, STDOUT_FILENO);
      dup2(errFd, STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(QUARNEL_CLI)};
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(QUARNEL_CLI, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
  }

  QJsonObject Json() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(dir_ / "run.json"))).object();
  }
  std::string JsonPath() const { return (dir_ / "run.json").string(); }

  // Per target number: "pass" or "fail".
  std::map<int, std::string> Results() const {
    std::map<int, std::string> results;
    for (const QJsonValue& target : Json()["targets"].toArray())
      results[target["number"].toInt()] = target["result"].toString().toStdString();
    return results;
  }

  void WriteImageFile(const std::string& name, const std::vector<uint8_t>& image) {
    std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  }

  fs::path dir_;
  std::string hexPath_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<SimProcess> sim_;
};

TEST_F(CliSystemTest, WritesEightBoardsWithTheirOwnSerialNumbersAndVerifiesThem) {
  StartSim({"--emulators", "8"});
  CliResult write = Cli({"--target", "KT51456", "--emulators", "all", "--serial", "3000:0x1234FE", "--json", JsonPath(),
                         "--quiet", "write", hexPath_});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(Json()["operation"].toString(), "write");
  EXPECT_EQ(Json()["targets"].toArray().size(), 8);
  EXPECT_EQ(Json()["targets"].toArray()[7].toObject()["serialNumber"].toString(), "00123505");
  for (const auto& [number, result] : Results()) EXPECT_EQ(result, "pass") << number;

  CliResult verify = Cli({"--target", "KT51456", "--emulators", "8", "--serial", "3000:0x1234FE", "--json", JsonPath(),
                          "verify", hexPath_});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_NE(verify.out.find("Verification was completed. "), std::string::npos);
  for (unsigned k = 0; k < 8; ++k) EXPECT_EQ(StopAndDump(k), ExpectedFlash(k + 1)) << "emulator " << k;
}

TEST_F(CliSystemTest, VerifyNamesTheOneBoardThatDiffers) {
  std::vector<uint8_t> good = ExpectedFlash(std::nullopt);
  std::vector<uint8_t> other = good;
  other[kFileStart + 0x10] ^= 0x55;
  WriteImageFile("good.bin", good);
  WriteImageFile("other.bin", other);
  StartSim({"--emulators", "4", "--image", (dir_ / "good.bin").string(), "--emulator",
            "2:image=" + (dir_ / "other.bin").string()});
  CliResult verify = Cli({"--target", "KT51456", "--emulators", "4", "--json", JsonPath(), "verify", hexPath_});
  EXPECT_EQ(verify.exitCode, 1) << verify.err;
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "pass"}, {3, "fail"}, {4, "pass"}}));
  EXPECT_EQ(Json()["targets"].toArray()[2].toObject()["differences"].toInt(), 1);
}

TEST_F(CliSystemTest, ABoardThatFallsSilentFailsAloneAndTheOthersAreWritten) {
  StartSim({"--emulators", "4", "--emulator", "1:fault=silent-after:30"});
  CliResult write = Cli({"--target", "KT51456", "--emulators", "all", "--json", JsonPath(), "--quiet", "write", hexPath_});
  EXPECT_EQ(write.exitCode, 1) << write.err;
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "fail"}, {3, "pass"}, {4, "pass"}}));
  EXPECT_NE(Json()["targets"].toArray()[1].toObject()["status"].toInt(), 0);
  for (unsigned k : {0u, 2u, 3u}) EXPECT_EQ(StopAndDump(k), ExpectedFlash(std::nullopt)) << "emulator " << k;
}

// Seven of eight boards stop answering in the middle of the write. Their
// answers are awaited together: the run costs one read time-out (10 s), not
// seven, and the reset on leaving does not wait for them again.
TEST_F(CliSystemTest, SevenBoardsFallingSilentCostOneTimeOutTogether) {
  std::vector<std::string> sim = {"--emulators", "8"};
  for (unsigned k = 1; k < 8; ++k) sim.insert(sim.end(), {"--emulator", std::to_string(k) + ":fault=silent-after:30"});
  StartSim(sim);
  const auto begin = std::chrono::steady_clock::now();
  CliResult write = Cli({"--target", "KT51456", "--emulators", "all", "--json", JsonPath(), "--quiet", "write", hexPath_});
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_EQ(write.exitCode, 1) << write.err;
  std::map<int, std::string> expected{{1, "pass"}};
  for (int n = 2; n <= 8; ++n) expected[n] = "fail";
  EXPECT_EQ(Results(), expected);
  EXPECT_LT(took, std::chrono::seconds(10 + 8));
  EXPECT_EQ(StopAndDump(0), ExpectedFlash(std::nullopt));
}

TEST_F(CliSystemTest, BadInputAndDeclinedQuestionsTouchNothing) {
  StartSim({"--emulators", "2"});
  const std::string broken = (dir_ / "broken.hex").string();
  std::ofstream(broken) << ":0400000001020304F1\n";  // checksum error, no end record
  const std::vector<std::vector<std::string>> runs = {
      {"--target", "KT99999", "write", hexPath_},
      {"--target", "KT51456", "write", hexPath_, "--start", "xyz"},
      {"--target", "KT51456", "write", broken},
      {"--target", "KT51456", "--fill", "100", "write", hexPath_},
      {"--target", "KT51456", "--no-erase", "write", hexPath_},
      {"--target", "KT51456", "erase", "1"},
      {"--target", "KT51456", "erase", "99"},
      {"--target", "KT51456", "--bogus", "write", hexPath_},
  };
  for (const auto& run : runs) {
    CliResult result = Cli(run);
    EXPECT_EQ(result.exitCode, 2) << run[1] << " " << run[2] << ": " << result.err;
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_NE(Cli(runs[4]).err.find("When flash memory is not erase before writing"), std::string::npos);
  const std::vector<uint8_t> erased(kFlashEnd + 1, 0xFF);
  for (unsigned k : {0u, 1u}) EXPECT_EQ(StopAndDump(k), erased);
}

TEST_F(CliSystemTest, NoEmulatorOrAHeldLockEndsWithThree) {
  CliResult none = Cli({"--target", "KT51456", "--json", JsonPath(), "write", hexPath_});
  EXPECT_EQ(none.exitCode, 3) << none.err;
  EXPECT_EQ(Json()["exitCode"].toInt(), 3);
  // The library's reason follows the message.
  EXPECT_NE(none.err.find("KORVO is not connected. Check the connection. (Error code: 1005)\nNo emulator sockets"),
            std::string::npos)
      << none.err;

  StartSim({"--emulators", "2"});
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  quarnel::NamedLock held(quarnel::kKorvoLockName);
  ASSERT_TRUE(held.Acquire(std::chrono::milliseconds(0)));
  const auto begin = std::chrono::steady_clock::now();
  CliResult locked = Cli({"--target", "KT51456", "write", hexPath_});
  const auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_EQ(locked.exitCode, 3) << locked.err;
  EXPECT_GE(waited, std::chrono::milliseconds(3000));
  EXPECT_NE(locked.err.find("(Error code: 1005)"), std::string::npos);
  held.Release();
  EXPECT_EQ(Cli({"--target", "KT51456", "--emulators", "3", "write", hexPath_}).exitCode, 3);
}

}  // namespace
