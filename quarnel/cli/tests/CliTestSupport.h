// quarnel-cli run as a real process against korvo-sim: the fixture of the
// command line's system tests, judged by exit code, JSON and the chips' dumps.
#pragma once

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
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "base/NamedLock.h"

namespace cli_test {

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

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<uint8_t> FileBytes() {
  std::vector<uint8_t> bytes(kFileSize);
  for (uint32_t i = 0; i < kFileSize; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

inline std::string IntelHex(uint32_t address, const std::vector<uint8_t>& bytes) {
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

// KT51456's last code block (block 8) ends with the preserved area and the
// reserved tail; the dumps run to the end of the tail.
constexpr uint32_t kLastBlock = 0xE000;
constexpr uint32_t kPreserved = 0xFC00;
constexpr uint32_t kChipEnd = 0xFFFF;

// Board k's memory before a run: different on every board and at every address.
inline std::vector<uint8_t> BoardImage(unsigned k) {
  std::vector<uint8_t> image(kChipEnd + 1);
  for (uint32_t a = 0; a <= kChipEnd; ++a) image[a] = static_cast<uint8_t>(a * 13 + (a >> 8) + 0x40 * (k + 1));
  return image;
}

// One Intel HEX text with several data segments.
inline std::string IntelHexSegments(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& segments) {
  std::string text;
  const std::string end = ":00000001FF\n";
  for (const auto& [address, bytes] : segments) {
    std::string segment = IntelHex(address, bytes);
    text += segment.substr(0, segment.size() - end.size());
  }
  return text + end;
}

// The flash after writing the file with the default options: the fill byte
// 0FFH everywhere but the file's bytes and target n's serial number.
inline std::vector<uint8_t> ExpectedFlash(std::optional<uint32_t> target) {
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
    // The KORVO access lock is machine-wide; each test has its own.
    setenv("QUARNEL_LOCK_DIR", dir_.c_str(), 1);
    env_ = {{"XDG_RUNTIME_DIR", dir_.string()},
            {"QUARNEL_LOCK_DIR", dir_.string()},
            {"XDG_CONFIG_HOME", (dir_ / "config").string()},
            {"XDG_DATA_HOME", (dir_ / "data").string()},
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

  CliResult Cli(const std::vector<std::string>& arguments) { return FinishCli(StartCli(arguments)); }

  // A run in the background; its output goes to PREFIXout.txt and PREFIXerr.txt.
  pid_t StartCli(const std::vector<std::string>& arguments, const std::string& prefix = "") {
    const fs::path out = dir_ / (prefix + "out.txt");
    const fs::path err = dir_ / (prefix + "err.txt");
    const pid_t pid = fork();
    if (pid == 0) {
      for (const auto& [name, value] : env_) setenv(name.c_str(), value.c_str(), 1);
      int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (closedStdout_) {
        // A reader that went away, as with "| head -1".
        int ends[2];
        if (pipe(ends) != 0) _exit(126);
        close(ends[0]);
        outFd = ends[1];
      }
      dup2(outFd, STDOUT_FILENO);
      dup2(errFd, STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(QUARNEL_CLI)};
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(QUARNEL_CLI, argv.data());
      _exit(127);
    }
    return pid;
  }
  CliResult FinishCli(pid_t pid, const std::string& prefix = "") {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / (prefix + "out.txt")),
            ReadFile(dir_ / (prefix + "err.txt"))};
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

  // Two boards whose chips start with BoardImage(0) and BoardImage(1), or
  // with the given images.
  void StartBoards(const std::vector<std::vector<uint8_t>>& images, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{"--emulators", std::to_string(images.size())};
    for (size_t k = 0; k < images.size(); ++k) {
      const std::string name = "board" + std::to_string(k) + ".bin";
      WriteImageFile(name, images[k]);
      arguments.push_back("--emulator");
      arguments.push_back(std::to_string(k) + ":image=" + (dir_ / name).string());
    }
    arguments.insert(arguments.end(), more.begin(), more.end());
    StartSim(std::move(arguments));
  }

  // Emulator k's whole chip memory, reserved tail included.
  std::vector<uint8_t> WholeDump(unsigned k) {
    if (sim_ && sim_->running()) sim_->stop();
    char name[32];
    std::snprintf(name, sizeof name, "korvo-%02u.bin", k);
    const std::string bytes = ReadFile(dir_ / "sim" / name);
    return {bytes.begin(), bytes.end()};
  }

  fs::path dir_;
  bool closedStdout_ = false;
  std::string hexPath_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<SimProcess> sim_;
};

}  // namespace cli_test
