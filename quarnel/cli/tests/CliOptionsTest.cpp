#include "cli/CliOptions.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quarnel::cli {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(CliOptions, ReadsCommandsFilesAndTheirOptions) {
  auto parsed = ParseCommandLine(Words(
      "--target KT51456 --emulators all write a.hex --start 100 --offset -1:0 b.mot --end file c.hex --end "
      "7FFH --not-fill --no-erase --no-add-words --fill 0x5a --serial 1FFC:1000:2 --json r.json --log r.log "
      "--quiet --yes"));
  ASSERT_TRUE(parsed.options) << parsed.error;
  const Options& o = *parsed.options;
  EXPECT_EQ(o.command, Command::Write);
  EXPECT_EQ(o.target, "KT51456");
  EXPECT_TRUE(o.allEmulators);
  ASSERT_EQ(o.files.size(), 3u);
  EXPECT_EQ(o.files[0].settings.fileName, "a.hex");
  EXPECT_EQ(o.files[0].settings.startText, "100");
  EXPECT_EQ(o.files[0].settings.offsetText, "-1:0");
  EXPECT_EQ(o.files[0].settings.endMode, EndAddressMode::EndOfMemory);
  EXPECT_EQ(o.files[1].settings.startText, "0");  // the default start, not the file's lowest address
  EXPECT_EQ(o.files[1].settings.endMode, EndAddressMode::FileContent);
  EXPECT_EQ(o.files[2].settings.endMode, EndAddressMode::Arbitrary);
  EXPECT_EQ(o.files[2].settings.arbitraryEndText, "7FFH");
  EXPECT_TRUE(o.notFill);
  EXPECT_FALSE(o.eraseBeforeWrite);
  EXPECT_FALSE(o.addTwoWords);
  EXPECT_EQ(o.fillText, "0x5a");
  ASSERT_TRUE(o.serial);
  EXPECT_EQ(o.serial->address, 0x1FFCu);
  EXPECT_EQ(o.serial->FixedNumbers(3), (std::vector<uint64_t>{1000, 1001, 1002}));
  EXPECT_EQ(SerialBytes(1002, o.serial->size), (std::vector<uint8_t>{0x03, 0xEA}));
  EXPECT_EQ(o.jsonPath, "r.json");
  EXPECT_EQ(o.logPath, "r.log");
  EXPECT_TRUE(o.quiet && o.yes);
}

TEST(CliOptions, DefaultsFollowTheWindow) {
  auto parsed = ParseCommandLine(Words("verify --target T x.hex"));
  ASSERT_TRUE(parsed.options) << parsed.error;
  const Options& o = *parsed.options;
  EXPECT_EQ(o.emulators, 2u);
  EXPECT_FALSE(o.allEmulators);
  EXPECT_TRUE(o.eraseBeforeWrite);
  EXPECT_FALSE(o.notFill);
  EXPECT_TRUE(o.addTwoWords);
  EXPECT_FALSE(o.fillFromFlash);
  EXPECT_FALSE(o.serial);
  EXPECT_EQ(o.serial.value_or(SerialOption{}).size, 4u);
  EXPECT_EQ(ParseCommandLine(Words("list")).options->command, Command::List);
  EXPECT_EQ(ParseCommandLine(Words("--help")).options->command, Command::Help);
  for (const char* line : {"", "--target KT51456", "--quiet --yes"}) {
    const ParsedCommandLine parsed = ParseCommandLine(Words(line));
    EXPECT_FALSE(parsed.options) << line;
    EXPECT_NE(parsed.error.find("no command given"), std::string::npos) << line;
  }
}

TEST(CliOptions, RefusesBadUsage) {
  const char* lines[] = {
      "write --target T",                      // no file
      "write a.hex",                           // no target
      "erase --target T",                      // no blocks
      "frobnicate",                            // no such command
      "--start 0 write --target T a.hex",      // file option before any file
      "write --target T a.hex --end",          // option without value
      "--emulators 33 list",                   // too many
      "--emulators 0 list",                    //
      "--serial 100 write --target T a.hex",   // no FIRST
      "--serial 100:1:9 write --target T a",   // SIZE beyond 8
      "--serial xyz:1 write --target T a",     // address that does not parse
      "--fill 00 --fill-flash write --target T a",
      "--security-id 12345 list",              // five digits in a word
      "--security-id 1 --initialize list",
      "list extra",
      "write --target T a.hex --bogus",
      "--serial 100:@ write --target T a",     // no sequence name
      "--serial 100:@a/b write --target T a",  // not a sequence name
      "--serial 100:@lot verify --target T a", // sequence numbers are for write
      "read --target T",                       // no OUTPUT
      "--retry 10 write --target T a",         // too many retries
      "sequence lot",                          // no FIRST
      "sequence lot x",                        //
      "records --csv --json",                  //
      "records --serial x",                    //
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    auto parsed = ParseCommandLine(Words(line));
    EXPECT_FALSE(parsed.options);
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(CliOptions, ReadsTheProductionCommands) {
  struct Case {
    const char* line;
    Command command;
    bool (*check)(const Options&);
  };
  const Case cases[] = {
      {"--slots s.ini --retry 2 --records sqlite:/x.db --serial 3000:@lot-7:2 write --target T a.hex", Command::Write,
       [](const Options& o) {
         return o.slotsPath == "s.ini" && o.retries == 2 && o.recordsUrl == "sqlite:/x.db" &&
                o.serial->sequence == "lot-7" && o.serial->size == 2 && o.serial->address == 0x3000;
       }},
      {"--target T read out-{slot}.srec", Command::Read, [](const Options& o) { return o.output == "out-{slot}.srec"; }},
      {"--target T blank-check 2-3", Command::BlankCheck, [](const Options& o) { return o.blocks == "2-3"; }},
      {"--target T blank-check", Command::BlankCheck, [](const Options& o) { return o.blocks.empty(); }},
      {"sequence lot-7 0x100", Command::Sequence,
       [](const Options& o) { return o.sequenceName == "lot-7" && o.sequenceFirst == 0x100; }},
      {"slots --save s.ini", Command::Slots, [](const Options& o) { return o.saveSlotsPath == "s.ini"; }},
      // After the command, records takes its own --serial and --json.
      {"--records postgresql://u@h/db records --since 2026-12-01 --serial 42 --json", Command::Records,
       [](const Options& o) {
         return o.recordsUrl == "postgresql://u@h/db" && o.records.since == "2026-12-01" &&
                o.records.serialNumber == 42u && o.records.json && !o.records.csv && o.jsonPath.empty();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ParsedCommandLine parsed = ParseCommandLine(Words(c.line));
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->command, c.command);
    EXPECT_TRUE(c.check(*parsed.options));
  }
}

TEST(CliOptions, SerialNumbersFitTheirSizeOrAreRefused) {
  EXPECT_EQ(SerialBytes(0x1234FE, 4), (std::vector<uint8_t>{0x00, 0x12, 0x34, 0xFE}));
  EXPECT_TRUE(SerialBytes(0x10000, 2).empty());
  EXPECT_EQ(SerialBytes(~uint64_t{0}, 8).size(), 8u);
  EXPECT_FALSE((SerialOption{0, 0xFFFF, {}, 2}.FixedNumbers(2)));
  EXPECT_FALSE((SerialOption{0, ~uint64_t{0}, {}, 8}.FixedNumbers(2)));  // would wrap
  EXPECT_EQ((SerialOption{0, 0xFFFE, {}, 2}.FixedNumbers(2)), (std::vector<uint64_t>{0xFFFE, 0xFFFF}));
}

TEST(CliOptions, BlockListsCountFromOne) {
  EXPECT_EQ(ParseBlockList("3,5-7", 64), (std::vector<uint32_t>{2, 4, 5, 6}));
  EXPECT_EQ(ParseBlockList("7,1,7", 8), (std::vector<uint32_t>{0, 6}));
  EXPECT_EQ(ParseBlockList("all", 3), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(ParseBlockList("64", 64), (std::vector<uint32_t>{63}));
  for (const char* bad : {"0", "65", "5-3", "1-2-3", "", "a", "1,,2", "-4"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseBlockList(bad, 64));
  }
}

TEST(CliOptions, SecurityWordsAsTheDialogTakesThem) {
  EXPECT_EQ(ParseSecurityWords("1234 abcd,F:0"), (std::vector<uint16_t>{0x1234, 0xABCD, 0xF, 0}));
  EXPECT_EQ(ParseSecurityWords("ffff ffff ffff ffff ffff ffff ffff ffff ffff ffff ffff ffff")->size(), 12u);
  EXPECT_FALSE(ParseSecurityWords("1 2 3 4 5 6 7 8 9 10 11 12 13"));
  EXPECT_FALSE(ParseSecurityWords("12g4"));
  EXPECT_FALSE(ParseSecurityWords(""));
}

}  // namespace
}  // namespace quarnel::cli
