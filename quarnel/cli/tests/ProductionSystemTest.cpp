// quarnel-cli on a production line: fixture slots, serial numbers from a
// sequence, retries of failed slots, records of every attempt, read-back
// and blank check, against korvo-sim as a real process.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstdio>

#include "CliTestSupport.h"
#include "testing/PostgresServer.h"

namespace {

using namespace cli_test;

// CRC-32 of a file as gzip computes it: the first word of its trailer.
uint32_t GzipCrc32(const fs::path& file) {
  const fs::path packed = file.string() + ".gz";
  const std::string command = "gzip -c '" + file.string() + "' > '" + packed.string() + "'";
  if (std::system(command.c_str()) != 0) return 0;
  const std::string bytes = ReadFile(packed);
  if (bytes.size() < 8) return 0;
  uint32_t crc = 0;
  for (int k = 3; k >= 0; --k) crc = crc << 8 | static_cast<uint8_t>(bytes[bytes.size() - 8 + k]);
  return crc;
}

// An object file turned into flat binary by objcopy, from its lowest address.
std::string ObjcopyBinary(const fs::path& file, const char* format) {
  const fs::path binary = file.string() + ".objcopy.bin";
  const std::string command =
      std::string("objcopy -I ") + format + " -O binary '" + file.string() + "' '" + binary.string() + "'";
  if (std::system(command.c_str()) != 0) return "objcopy failed on " + file.string();
  return ReadFile(binary);
}

QJsonArray ParseArray(const std::string& text) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array();
}

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

class ProductionSystemTest : public CliSystemTest {
 protected:
  std::string SocketPath(unsigned k) const {
    char name[32];
    std::snprintf(name, sizeof name, "korvo-%02u", k);
    return (dir_ / "sim" / name).string();
  }

  // The flash of one board as the read-back sees it: the chip's memory up
  // to the end of the reserved tail.
  std::string FlashOf(unsigned k) {
    const std::vector<uint8_t> dump = WholeDump(k);
    return {dump.begin(), dump.end()};
  }
};

// Four boards in a fixture whose slots run against the port order; the
// board in slot 3 falls silent during the write, is failed alone, and is
// redone by the retry after the re-plug revives it. Every attempt is
// recorded; the sequence never hands out a number twice.
TEST_F(ProductionSystemTest, SlotsRetriesSequenceNumbersAndRecordsOnFourBoards) {
  StartSim({"--emulators", "4"});
  const std::string saved = (dir_ / "saved.ini").string();
  const CliResult save = Cli({"slots", "--save", saved});
  ASSERT_EQ(save.exitCode, 0) << save.err;
  EXPECT_EQ(ReadFile(saved), "[Slots]\n1=\"" + SocketPath(0) + "\"\n2=\"" + SocketPath(1) + "\"\n3=\"" +
                                 SocketPath(2) + "\"\n4=\"" + SocketPath(3) + "\"\n");

  // The fixture's slot 1 is the last port, slot 4 the first.
  const std::string slotMap = (dir_ / "fixture.ini").string();
  std::ofstream(slotMap) << "[Slots]\n1=" << SocketPath(3) << "\n2=" << SocketPath(2) << "\n3=" << SocketPath(1)
                       << "\n4=" << SocketPath(0) << "\n";
  StartSim({"--emulators", "4", "--emulator", "1:fault=silent-after:30"});
  const CliResult list = Cli({"--slots", slotMap, "list"});
  EXPECT_NE(list.out.find("slot 3  " + SocketPath(1)), std::string::npos) << list.out;

  ASSERT_EQ(Cli({"sequence", "board", "1000"}).exitCode, 0);
  EXPECT_EQ(Cli({"sequence", "board", "1"}).exitCode, 2);  // exists already
  const CliResult write = Cli({"--target", "KT51456", "--slots", slotMap, "--serial", "3000:@board", "--retry", "1",
                               "--json", JsonPath(), "--quiet", "write", hexPath_});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  const QJsonArray targets = Json()["targets"].toArray();
  ASSERT_EQ(targets.size(), 4);
  const std::map<int, std::pair<unsigned, uint32_t>> bySlot = {  // emulator, serial number
      {1, {3, 1000}}, {2, {2, 1001}}, {3, {1, 1004}}, {4, {0, 1003}}};
  for (const QJsonValue& target : targets) {
    const int slot = target["slot"].toInt();
    SCOPED_TRACE("slot " + std::to_string(slot));
    EXPECT_EQ(target["devicePath"].toString().toStdString(), SocketPath(bySlot.at(slot).first));
    EXPECT_EQ(target["result"].toString(), "pass");
    EXPECT_EQ(target["attempts"].toInt(), slot == 3 ? 2 : 1);
    EXPECT_EQ(target["serialNumber"].toString().toStdString(), Hex8(bySlot.at(slot).second));
  }
  EXPECT_EQ(Json()["imageSha256"].toString().size(), 64);
  EXPECT_GT(Json()["bytes"].toInt(), 0);

  const CliResult records = Cli({"records", "--json"});
  ASSERT_EQ(records.exitCode, 0) << records.err;
  const QJsonArray all = ParseArray(records.out);
  ASSERT_EQ(all.size(), 5) << records.out;
  std::map<int, std::vector<std::string>> attemptsOfSlot;
  for (const QJsonValue& record : all) {
    attemptsOfSlot[record["slot"].toInt()].push_back(record["result"].toString().toStdString());
    EXPECT_EQ(record["operation"].toString(), "write");
    EXPECT_EQ(record["image_sha256"].toString(), Json()["imageSha256"].toString());
  }
  EXPECT_EQ(attemptsOfSlot[3], (std::vector<std::string>{"fail", "pass"}));
  EXPECT_EQ(attemptsOfSlot[1], (std::vector<std::string>{"pass"}));
  // The spoiled number 1002 is recorded with the failed attempt and never
  // written to a board; the next run goes on after 1004.
  const CliResult spoiled = Cli({"records", "--serial", "1002", "--json"});
  ASSERT_EQ(ParseArray(spoiled.out).size(), 1) << spoiled.out;
  EXPECT_EQ(ParseArray(spoiled.out).at(0)["result"].toString(), "fail");

  for (const auto& [slot, board] : bySlot) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    const fs::path flash = dir_ / ("flash" + std::to_string(slot) + ".bin");
    std::vector<uint8_t> expected = ExpectedFlash(std::nullopt);
    for (int k = 0; k < 4; ++k) expected[kSerialAddress + k] = static_cast<uint8_t>(board.second >> (24 - 8 * k));
    std::vector<uint8_t> dump = WholeDump(board.first);
    std::ofstream(flash, std::ios::binary).write(reinterpret_cast<const char*>(dump.data()), dump.size());
    dump.resize(kFlashEnd + 1);
    EXPECT_EQ(dump, expected);
    for (const QJsonValue& record : all) {
      if (record["slot"].toInt() == slot && record["result"].toString() == "pass") {
        EXPECT_EQ(record["crc32"].toString().toStdString(), Hex8(GzipCrc32(flash)));
      }
    }
  }
  const CliResult csv = Cli({"records", "--csv", "--since", "2000-01-01"});
  EXPECT_EQ(csv.out.rfind("run_id,attempt,utc_time,", 0), 0u) << csv.out;
  size_t rows = 0;
  for (size_t at = csv.out.find(",write,KT51456,"); at != std::string::npos; at = csv.out.find(",write,KT51456,", at + 1))
    ++rows;
  EXPECT_EQ(rows, 5u) << csv.out;
  EXPECT_EQ(ParseArray(Cli({"records", "--json", "--since", "2999-01-01"}).out).size(), 0);
}

// The stations of a line share one sequence and one table on a PostgreSQL
// server: runs one after the other continue the numbers, and every board
// is recorded there.
TEST_F(ProductionSystemTest, RunsShareASequenceAndTheRecordsOnAPostgreSqlServer) {
  const quarnel::testing::PostgresServer server;
  ASSERT_EQ(server.Error(), "");
  ASSERT_EQ(server.CreateDatabase("line"), "");
  const std::string url = server.Url("line");
  StartBoards({BoardImage(0), BoardImage(1)});
  ASSERT_EQ(Cli({"--records", url, "sequence", "board", "500"}).exitCode, 0);
  for (int run = 0; run < 2; ++run) {
    const CliResult write = Cli({"--records", url, "--target", "KT51456", "--serial", "3000:@board", "--quiet",
                                 "write", hexPath_});
    ASSERT_EQ(write.exitCode, 0) << write.err;
  }
  const CliResult records = Cli({"--records", url, "records", "--json"});
  ASSERT_EQ(records.exitCode, 0) << records.err;
  std::vector<int> serials;
  for (const QJsonValue& record : ParseArray(records.out)) serials.push_back(record["serial_number"].toInt());
  EXPECT_EQ(serials, (std::vector<int>{500, 501, 502, 503}));
  EXPECT_EQ(Cli({"records"}).out.find(" write "), std::string::npos) << "the SQLite file holds none of them";
}

// A store that refuses the records (here a trigger, as a full disk would)
// fails a run whose boards were written, once they are done.
TEST_F(ProductionSystemTest, ARecordThatCannotBeStoredFailsTheRunAfterTheBoardsAreDone) {
  StartBoards({BoardImage(0), BoardImage(1)});
  const std::string file = (dir_ / "records.sqlite").string();
  ASSERT_EQ(Cli({"--records", file, "sequence", "board", "1"}).exitCode, 0);
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("refusing"));
    db.setDatabaseName(QString::fromStdString(file));
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
        "CREATE TRIGGER refuse BEFORE INSERT ON board_records BEGIN SELECT RAISE(ABORT, 'disk full'); END")));
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("refusing"));
  const CliResult write =
      Cli({"--records", file, "--target", "KT51456", "--json", JsonPath(), "--quiet", "write", hexPath_});
  EXPECT_EQ(write.exitCode, 1);
  EXPECT_NE(write.err.find("the records of this run could not be stored"), std::string::npos) << write.err;
  EXPECT_NE(write.err.find("disk full"), std::string::npos) << write.err;
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "pass"}}));
  // Below the preserved area, which the board keeps.
  std::vector<uint8_t> written = WholeDump(0);
  std::vector<uint8_t> expected = ExpectedFlash(std::nullopt);
  written.resize(kPreserved);
  expected.resize(kPreserved);
  EXPECT_EQ(written, expected);
}

// A slot whose emulator is missing ends the run before anything is written.
TEST_F(ProductionSystemTest, AMissingSlotEndsTheRunWithThreeAndNamesIt) {
  StartBoards({BoardImage(0), BoardImage(1)});
  const std::string slotMap = (dir_ / "fixture.ini").string();
  std::ofstream(slotMap) << "[Slots]\n1=" << SocketPath(0) << "\n2=" << SocketPath(1) << "\n7=/nowhere/korvo-09\n";
  const CliResult write =
      Cli({"--target", "KT51456", "--slots", slotMap, "--json", JsonPath(), "--quiet", "write", hexPath_});
  EXPECT_EQ(write.exitCode, 3);
  EXPECT_NE(write.err.find("slot 7 (/nowhere/korvo-09)"), std::string::npos) << write.err;
  EXPECT_EQ(WholeDump(0), BoardImage(0));
  EXPECT_EQ(WholeDump(1), BoardImage(1));
}

// What read saves is what the board holds, as objcopy reads it in every
// format, and its CRC-32 is the one printed and recorded; blank-check tells
// an erased board from a written one.
TEST_F(ProductionSystemTest, ReadBackEqualsTheBoardAndBlankCheckTellsErasedFromWritten) {
  StartBoards({BoardImage(0), BoardImage(1)});
  ASSERT_EQ(Cli({"--target", "KT51456", "--quiet", "write", hexPath_}).exitCode, 0);
  const CliResult one = Cli({"--target", "KT51456", "read", (dir_ / "all.hex").string()});
  EXPECT_EQ(one.exitCode, 2) << "two targets need {slot}";
  for (const std::string& unusable : {(dir_ / "missing" / "b{slot}.hex").string(), (dir_ / "b{slot}.txt").string()}) {
    const CliResult refused = Cli({"--target", "KT51456", "read", unusable});
    EXPECT_EQ(refused.exitCode, 2) << unusable;
    EXPECT_NE(refused.err.find("read: "), std::string::npos) << refused.err;
  }

  for (const char* format : {"hex", "srec", "bin"}) {
    SCOPED_TRACE(format);
    const std::string pattern = (dir_ / (std::string("board{slot}.") + format)).string();
    const CliResult read = Cli({"--target", "KT51456", "--json", JsonPath(), "read", pattern});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    for (int target = 1; target <= 2; ++target) {
      const fs::path file = dir_ / ("board" + std::to_string(target) + "." + format);
      const std::string bytes = std::string(format) == "bin" ? ReadFile(file)
                                : std::string(format) == "hex" ? ObjcopyBinary(file, "ihex")
                                                               : ObjcopyBinary(file, "srec");
      std::ofstream(dir_ / "flat.bin", std::ios::binary) << bytes;
      const std::string crc = Json()["targets"].toArray().at(target - 1)["crc32"].toString().toStdString();
      EXPECT_EQ(crc, Hex8(GzipCrc32(dir_ / "flat.bin")));
      EXPECT_NE(read.out.find("CRC-32 " + crc), std::string::npos) << read.out;
    }
  }
  const QJsonArray records = ParseArray(Cli({"records", "--json"}).out);
  ASSERT_EQ(records.size(), 2 + 3 * 2);
  EXPECT_EQ(records.last()["operation"].toString(), "read");
  EXPECT_EQ(records.last()["crc32"].toString(), Json()["targets"].toArray().at(1)["crc32"].toString());

  const std::string flash1 = FlashOf(0);
  const std::string flash2 = FlashOf(1);
  EXPECT_EQ(ReadFile(dir_ / "board1.bin"), flash1);
  // The file written, as objcopy reads it, stands at its addresses in what
  // was read back from each board.
  const std::string written = ObjcopyBinary(hexPath_, "ihex");
  ASSERT_EQ(written.size(), kFileSize);
  for (int target = 1; target <= 2; ++target) {
    const std::string readBack = ObjcopyBinary(dir_ / ("board" + std::to_string(target) + ".hex"), "ihex");
    ASSERT_GE(readBack.size(), kFileStart + kFileSize);
    EXPECT_EQ(readBack.substr(kFileStart, kFileSize), written) << "target " << target;
  }
  EXPECT_EQ(ReadFile(dir_ / "board2.bin"), flash2);
  EXPECT_NE(flash1, flash2);  // each board kept its own preserved area

  StartBoards({std::vector<uint8_t>(kChipEnd + 1, 0xFF), BoardImage(1)});
  const CliResult blank = Cli({"--target", "KT51456", "--json", JsonPath(), "blank-check"});
  EXPECT_EQ(blank.exitCode, 1);
  EXPECT_EQ(Results(), (std::map<int, std::string>{{1, "pass"}, {2, "fail"}}));
  EXPECT_NE(blank.out.find("Target 2: not blank (first programmed byte at 00000H)"), std::string::npos) << blank.out;
}

}  // namespace
