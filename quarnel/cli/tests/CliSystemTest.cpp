// quarnel-cli as a production line runs it: a real process against
// korvo-sim, judged by its exit code, its JSON result and the simulated
// chips' memory dumps.
#include "CliTestSupport.h"

namespace {

using namespace cli_test;

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

// The emulators belong to the machine, not to a login session: a run with
// another $XDG_RUNTIME_DIR waits for the lock of the run that has them and
// then gives up, saying why, instead of driving the same boards. A lock file
// that cannot be used is an error at once, never "in use".
// A run that had to wait for another one opens the emulators again once it
// has them: it writes every board, not only those the other run had let go.
TEST_F(CliSystemTest, ARunThatWaitedForAnotherWritesEveryBoard) {
  // 72 write commands of 20 ms: the first run keeps the emulators about 1.5 s.
  StartSim({"--emulators", "2", "--write-us", "20000"});
  std::vector<uint8_t> otherBytes(kFileSize, 0x5A);
  const std::string otherHex = (dir_ / "other.hex").string();
  std::ofstream(otherHex) << IntelHex(kFileStart, otherBytes);
  const pid_t first = StartCli({"--target", "KT51456", "write", hexPath_}, "first-");
  const auto begin = std::chrono::steady_clock::now();
  while (ReadFile(dir_ / "first-err.txt").empty() && std::chrono::steady_clock::now() - begin < std::chrono::seconds(10))
    usleep(20000);
  const CliResult second = Cli({"--target", "KT51456", "--json", JsonPath(), "write", otherHex});
  EXPECT_EQ(FinishCli(first, "first-").exitCode, 0);
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "pass"}}));
  std::vector<uint8_t> expected(kFlashEnd + 1, 0xFF);
  std::copy(otherBytes.begin(), otherBytes.end(), expected.begin() + kFileStart);
  for (unsigned k = 0; k < 2; ++k) EXPECT_EQ(StopAndDump(k), expected) << "emulator " << k;
}

TEST_F(CliSystemTest, RunsFromTwoSessionsNeverDriveTheEmulatorsTogether) {
  // 72 write commands of 90 ms: the first run keeps the emulators for 6.5 s.
  StartSim({"--emulators", "2", "--write-us", "90000"});
  fs::create_directories(dir_ / "session-a");
  fs::create_directories(dir_ / "session-b");
  std::vector<uint8_t> otherBytes(kFileSize, 0x5A);
  const std::string otherHex = (dir_ / "other.hex").string();
  std::ofstream(otherHex) << IntelHex(kFileStart, otherBytes);

  env_["XDG_RUNTIME_DIR"] = (dir_ / "session-a").string();
  const pid_t first = StartCli({"--target", "KT51456", "write", hexPath_}, "first-");
  // Its first progress line: plugged, lock taken, writing under way.
  const auto begin = std::chrono::steady_clock::now();
  while (ReadFile(dir_ / "first-err.txt").empty() && std::chrono::steady_clock::now() - begin < std::chrono::seconds(10))
    usleep(20000);
  ASSERT_FALSE(ReadFile(dir_ / "first-err.txt").empty());

  env_["XDG_RUNTIME_DIR"] = (dir_ / "session-b").string();
  const auto started = std::chrono::steady_clock::now();
  CliResult second = Cli({"--target", "KT51456", "--json", JsonPath(), "write", otherHex});
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(second.exitCode, 3) << second.err;
  EXPECT_GE(waited, std::chrono::milliseconds(3000));
  EXPECT_NE(second.err.find("another program is using the emulators"), std::string::npos) << second.err;
  EXPECT_NE(Json()["message"].toString().toStdString().find("another program is using the emulators"),
            std::string::npos);
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first run ended before the second gave up";

  CliResult done = FinishCli(first, "first-");
  EXPECT_EQ(done.exitCode, 0) << done.err;

  fs::remove(dir_ / "KORVO.lock");
  fs::create_symlink(dir_ / "nowhere", dir_ / "KORVO.lock");
  const auto refused = std::chrono::steady_clock::now();
  CliResult unusable = Cli({"list"});
  EXPECT_LT(std::chrono::steady_clock::now() - refused, std::chrono::milliseconds(3000));
  EXPECT_EQ(unusable.exitCode, 3) << unusable.err;
  EXPECT_NE(unusable.err.find((dir_ / "KORVO.lock").string() + " cannot be used: it is a symbolic link"),
            std::string::npos)
      << unusable.err;
  EXPECT_EQ(unusable.err.find("another program"), std::string::npos) << unusable.err;
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));

  for (unsigned k : {0u, 1u}) EXPECT_EQ(StopAndDump(k), ExpectedFlash(std::nullopt)) << "emulator " << k;
}

// Every board keeps its own preserved area, reserved tail and (with fill from
// the flash content) its own bytes outside the file; the expectation is
// computed here from each board's starting memory.
TEST_F(CliSystemTest, EveryBoardKeepsItsOwnContentThroughEraseAndWrite) {
  const std::vector<uint8_t> low = FileBytes();                 // 1000H-15FFH
  const std::vector<uint8_t> top(0x100, 0xA5);                  // FC00H-FCFFH: part of the preserved area
  const std::string both = (dir_ / "both.hex").string();
  std::ofstream(both) << IntelHexSegments({{kFileStart, low}, {kPreserved, top}});
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void(std::vector<uint8_t>&)> change;  // board memory before -> after
  };
  const auto putFile = [&](std::vector<uint8_t>& m) { std::copy(low.begin(), low.end(), m.begin() + kFileStart); };
  const std::vector<Case> cases = {
      {"erase the last code block", {"--yes", "erase", "8"},
       [](std::vector<uint8_t>& m) { std::fill(m.begin() + kLastBlock, m.begin() + kPreserved, 0xFF); }},
      {"write to the end of memory, fill byte", {"write", both},
       [&](std::vector<uint8_t>& m) {
         std::fill(m.begin(), m.begin() + kPreserved, 0xFF);
         putFile(m);
         std::copy(top.begin(), top.end(), m.begin() + kPreserved);
       }},
      {"write, fill from the flash content", {"--fill-flash", "write", hexPath_}, putFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartBoards({BoardImage(0), BoardImage(1)});
    std::vector<std::string> arguments{"--target", "KT51456", "--quiet"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CliResult run = Cli(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (unsigned k = 0; k < 2; ++k) {
      std::vector<uint8_t> expected = BoardImage(k);
      c.change(expected);
      EXPECT_EQ(WholeDump(k), expected) << "board " << k;
    }
  }

  // Verify passes on both boards afterwards, and fails for the board whose
  // preserved area was changed behind its back.
  StartBoards({BoardImage(0), BoardImage(1)});
  ASSERT_EQ(Cli({"--target", "KT51456", "--quiet", "write", both}).exitCode, 0);
  EXPECT_EQ(Cli({"--target", "KT51456", "--quiet", "verify", both}).exitCode, 0);
  const std::vector<uint8_t> board0 = WholeDump(0);
  std::vector<uint8_t> board1 = WholeDump(1);
  board1[kPreserved + 0x10] ^= 0xFF;
  StartBoards({board0, board1});
  const CliResult verify = Cli({"--target", "KT51456", "--json", JsonPath(), "verify", both});
  EXPECT_EQ(verify.exitCode, 1) << verify.err;
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "fail"}}));
}

// A serial number is written where the run writes on every target, or the
// run is refused before anything is touched; verify checks it wherever it is.
TEST_F(CliSystemTest, SerialNumbersAreWrittenAndVerifiedOrRefused) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {{"--serial", "0x3000:1000", "write", hexPath_, "--end", "file", "--not-fill"}, 2},  // block 2 not written
      {{"--serial", "FD00:1000", "write", hexPath_, "--end", "file"}, 2},                 // in an untouched preserved area
      {{"--serial", "100:255:1", "write", hexPath_}, 2},                                  // 256 does not fit a byte
      {{"--serial", "0x3000:1000", "write", hexPath_}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[1]);
    StartBoards({BoardImage(0), BoardImage(1)});
    std::vector<std::string> arguments{"--target", "KT51456", "--quiet"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CliResult run = Cli(arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    if (c.exitCode == 2) {
      EXPECT_FALSE(run.err.empty());
      for (unsigned k = 0; k < 2; ++k) EXPECT_EQ(WholeDump(k), BoardImage(k)) << "board " << k;
    }
  }
  const std::vector<std::vector<uint8_t>> boards{WholeDump(0), WholeDump(1)};
  for (unsigned k = 0; k < 2; ++k) {
    const uint32_t number = 1000 + k;
    EXPECT_EQ(std::vector<uint8_t>(boards[k].begin() + kSerialAddress, boards[k].begin() + kSerialAddress + 4),
              (std::vector<uint8_t>{0, 0, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)}));
  }
  // The serial number lies outside the row verify compares: it is compared all the same.
  StartBoards(boards);
  EXPECT_EQ(Cli({"--target", "KT51456", "--serial", "0x3000:1000", "verify", hexPath_, "--end", "file"}).exitCode, 0);
  const CliResult wrong = Cli({"--target", "KT51456", "--serial", "0x3000:2000", "--json", JsonPath(), "verify",
                               hexPath_, "--end", "file"});
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "fail"}, {2, "fail"}}));
}

// On the 96 KiB sample, block 7 starts with read-only bytes: the two words
// after a file that ends at the end of block 6 would land outside flash.
TEST_F(CliSystemTest, AddedWordsOutsideFlashAreDroppedAndTheWriteGoesOn) {
  std::vector<uint8_t> image(0x18000, 0x3C);
  WriteImageFile("board.bin", image);
  sim_.reset();
  for (const auto& entry : fs::directory_iterator(dir_ / "sim")) fs::remove(entry.path());
  sim_ = std::make_unique<SimProcess>(std::vector<std::string>{"--trg", SimProcess::sampleTrg("KT4351235"), "--dir",
                                                               (dir_ / "sim").string(), "--dump", "--emulators", "2",
                                                               "--image", (dir_ / "board.bin").string()});
  ASSERT_TRUE(sim_->start());
  const std::vector<uint8_t> bytes(0x100, 0x5A);
  const std::string file = (dir_ / "bf.hex").string();
  std::ofstream(file) << IntelHex(0xBF00, bytes);
  const CliResult run =
      Cli({"--target", "KT4351235", "--security-id", "0", "--quiet", "write", file, "--start", "BF00", "--end", "file"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (unsigned k = 0; k < 2; ++k) {
    const std::vector<uint8_t> flash = WholeDump(k);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0xBF00, flash.begin() + 0xC000), bytes);
    EXPECT_TRUE(std::all_of(flash.begin() + 0xC400, flash.begin() + 0xE000, [](uint8_t b) { return b == 0x3C; }))
        << "block 7 was touched on board " << k;
  }
}

// A fatal status on target 1 and a failure on target 2 are both listed.
TEST_F(CliSystemTest, AFatalStatusOnTarget1AndAFailureOnTarget2AreBothListed) {
  // Frame 7 is the erase, after the six frames of plugging.
  StartSim({"--emulators", "2", "--emulator", "0:fault=status:7:6302", "--emulator", "1:fault=status:7:6305"});
  const CliResult run = Cli({"--target", "KT51456", "--yes", "--json", JsonPath(), "erase", "1"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "fail"}, {2, "fail"}}));
  EXPECT_NE(run.out.find("Target 2 (" + sim_->socketPath(1) + ") failed"), std::string::npos) << run.out;
}

// Where the record and the log go is checked before any board is touched;
// no command at all is bad usage.
TEST_F(CliSystemTest, UnwritableDestinationsAndMissingCommandsTouchNothing) {
  StartBoards({BoardImage(0), BoardImage(1)});
  const std::string hexBefore = ReadFile(hexPath_);
  const std::vector<std::vector<std::string>> runs = {
      {"--json", (dir_ / "missing" / "run.json").string()},
      {"--json", dir_.string()},
      {"--json", "/proc/quarnel-run.json"},
      {"--log", (dir_ / "missing" / "run.log").string()},
      {"--log", "/proc/self/comm"},
      {"--log", hexPath_},
  };
  for (const auto& destination : runs) {
    std::vector<std::string> arguments = destination;
    arguments.insert(arguments.end(), {"--target", "KT51456", "write", hexPath_});
    const CliResult run = Cli(arguments);
    EXPECT_EQ(run.exitCode, 2) << destination[1] << ": " << run.err;
    EXPECT_NE(run.err.find(destination[1]), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadFile(hexPath_), hexBefore);
  const CliResult none = Cli({"--target", "KT51456"});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("no command given"), std::string::npos);
  EXPECT_NE(none.err.find("quarnel-cli [OPTIONS] write"), std::string::npos) << "the usage follows";
  for (unsigned k = 0; k < 2; ++k) EXPECT_EQ(WholeDump(k), BoardImage(k)) << "board " << k;
}

// A log that cannot be written, a closed standard output or a target 1
// whose flash cannot be read: the run goes to its end, keeps its JSON
// record and fails.
TEST_F(CliSystemTest, StreamAndReadFailuresEndInAFailureWithTheRecord) {
  StartSim({"--emulators", "2"});
  const CliResult full = Cli({"--target", "KT51456", "--json", JsonPath(), "--log", "/dev/full", "write", hexPath_});
  EXPECT_EQ(full.exitCode, 1) << full.err;
  EXPECT_NE(full.err.find("/dev/full could not be written"), std::string::npos) << full.err;
  EXPECT_EQ(Json()["exitCode"].toInt(), 1);
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "pass"}}));

  closedStdout_ = true;
  const CliResult closed = Cli({"--target", "KT51456", "--json", JsonPath(), "write", hexPath_});
  closedStdout_ = false;
  EXPECT_EQ(closed.exitCode, 1) << closed.err;
  EXPECT_NE(closed.err.find("standard output could not be written"), std::string::npos) << closed.err;
  EXPECT_EQ(Json()["exitCode"].toInt(), 1);
  for (unsigned k = 0; k < 2; ++k) EXPECT_EQ(StopAndDump(k), ExpectedFlash(std::nullopt)) << "emulator " << k;

  // Frame 7 is the first read of the flash content, after the six of plugging.
  StartSim({"--emulators", "2", "--emulator", "0:fault=short:7"});
  const CliResult shortRead = Cli({"--target", "KT51456", "--json", JsonPath(), "--fill-flash", "write", hexPath_});
  EXPECT_EQ(shortRead.exitCode, 1) << shortRead.err;
  EXPECT_EQ(Results().at(1), "fail");
}

}  // namespace
