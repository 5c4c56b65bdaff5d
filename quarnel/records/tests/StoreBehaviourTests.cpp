// What a store does, whichever database holds it. Each test binary
// instantiates these for its backends.
#include <QSqlQuery>
#include <QVariant>

#include "StoreBackends.h"
#include "records/RecordStore.h"
#include "records/Schema.h"

namespace quarnel::records::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

std::unique_ptr<RecordStore> OpenOrFail(const std::string& url) {
  StoreResult result;
  std::unique_ptr<RecordStore> store = RecordStore::Open(url, &result);
  EXPECT_TRUE(store) << result.error;
  EXPECT_EQ(result.error, "");
  return store;
}

BoardRecord FullRecord() {
  BoardRecord r;
  r.runId = "run-7f3a";
  r.attempt = 2;
  r.utcTime = "2026-12-08T10:00:00.250Z";
  r.station = "line-3.zentor.example";
  r.version = "1.00";
  r.operation = "write";
  r.targetDescription = "KT51456, \"rev B\"\nsecond line ÄÖÜ";
  r.slot = 0;
  r.targetNumber = 4000000000u;
  r.devicePath = "/dev/bus/usb/001/007";
  r.firmware = "2.31";
  r.chipName = "KT51456";
  r.imageSha256 = std::string(64, 'a');
  r.crc32 = 0xDEADBEEF;
  r.serialNumber = 9007199254740993ull;  // 2^53 + 1: no double holds it
  r.bytesWritten = 5000000000ull;
  r.durationSeconds = 0.1;
  r.rateKiBps = 1234.5678;
  r.result = "pass";
  r.status = -3;
  r.statusText = "Completed, with 'notes'";
  return r;
}

BoardRecord BareRecord(const std::string& time, std::optional<uint64_t> serial = std::nullopt) {
  BoardRecord r;
  r.runId = "run-bare";
  r.utcTime = time;
  r.result = "fail";
  r.serialNumber = serial;
  return r;
}

TEST_P(StoreTest, KeepsEveryFieldAndFindsRecordsBySinceAndSerial) {
  const std::string url = NewUrl();
  std::unique_ptr<RecordStore> store = OpenOrFail(url);
  ASSERT_TRUE(store);
  const BoardRecord full = FullRecord();
  const BoardRecord older = BareRecord("2026-12-08T09:00:00Z");
  const BoardRecord newer = BareRecord("2026-12-08T10:00:00.251Z", 17);
  ASSERT_EQ(store->Add({full, newer, older}).error, "");
  BoardRecord olderAsStored = older;
  olderAsStored.utcTime = "2026-12-08T09:00:00.000Z";

  // A second store on the same location, open at the same time, reads them.
  std::unique_ptr<RecordStore> reader = OpenOrFail(url);
  ASSERT_TRUE(reader);
  const struct {
    RecordQuery query;
    std::vector<BoardRecord> expected;
  } cases[] = {
      {{}, {olderAsStored, full, newer}},
      {{"2026-12-08", std::nullopt}, {olderAsStored, full, newer}},
      {{"2026-12-08T10:00", std::nullopt}, {full, newer}},
      {{"2026-12-08T10:00:00.250Z", std::nullopt}, {full, newer}},
      {{"2026-12-08T12:00:00.251+02:00", std::nullopt}, {newer}},
      {{std::nullopt, 9007199254740993ull}, {full}},
      {{"2026-12-08T10:00:00.251Z", 9007199254740993ull}, {}},
      {{std::nullopt, 9007199254740992ull}, {}},
  };
  for (const auto& c : cases) {
    std::vector<BoardRecord> got;
    ASSERT_EQ(reader->Records(c.query, &got).error, "");
    EXPECT_EQ(RecordsCsv(got), RecordsCsv(c.expected))
        << "since " << c.query.since.value_or("-") << ", serial " << c.query.serialNumber.value_or(0);
  }
  std::vector<BoardRecord> none;
  EXPECT_THAT(reader->Records({"yesterday", std::nullopt}, &none).error, HasSubstr("\"yesterday\" is no ISO 8601"));
}

TEST_P(StoreTest, AddKeepsAllRecordsOrNone) {
  const std::string url = NewUrl();
  std::unique_ptr<RecordStore> store = OpenOrFail(url);
  ASSERT_TRUE(store);
  // The third record breaks a rule of the database, after two were added.
  RawConnection(url).Exec("CREATE UNIQUE INDEX one_record_per_run ON board_records (run_id)");
  BoardRecord first = BareRecord("2026-12-08T09:00:00Z");
  BoardRecord second = first;
  second.runId = "run-2";
  const StoreResult result = store->Add({first, second, first});
  EXPECT_THAT(result.error, HasSubstr("could not add 3 records to " + Shown(url)));
  std::vector<BoardRecord> kept;
  ASSERT_EQ(store->Records({}, &kept).error, "");
  EXPECT_TRUE(kept.empty());
  // The store goes on after a failed transaction.
  ASSERT_EQ(store->Add({second}).error, "");
  ASSERT_EQ(store->Records({}, &kept).error, "");
  EXPECT_EQ(kept.size(), 1u);

  EXPECT_THAT(store->Add({BareRecord("08.12.2026")}).error, HasSubstr("\"08.12.2026\" is no ISO 8601 time"));
}

TEST_P(StoreTest, SequencesHandOutEachNumberOnceAndNoteItsState) {
  const std::string url = NewUrl();
  std::unique_ptr<RecordStore> store = OpenOrFail(url);
  ASSERT_TRUE(store);
  ASSERT_EQ(store->CreateSequence("board", 1000).error, "");
  ASSERT_EQ(store->CreateSequence("cover", 1).error, "");
  EXPECT_THAT(store->CreateSequence("board", 5).error,
              HasSubstr("sequence \"board\" in " + Shown(url) + ": it exists already"));

  std::vector<uint64_t> numbers;
  EXPECT_THAT(store->Allocate("lid", 2, "st-1", &numbers).error,
              AllOf(HasSubstr("sequence \"lid\""), HasSubstr("there is no such sequence")));
  ASSERT_EQ(store->Allocate("board", 3, "st-1", &numbers).error, "");
  EXPECT_EQ(numbers, (std::vector<uint64_t>{1000, 1001, 1002}));
  ASSERT_EQ(store->Allocate("cover", 1, "st-2", &numbers).error, "");
  EXPECT_EQ(numbers, (std::vector<uint64_t>{1}));
  ASSERT_EQ(store->Allocate("board", 2, "st-2", &numbers).error, "");
  EXPECT_EQ(numbers, (std::vector<uint64_t>{1003, 1004}));

  EXPECT_EQ(store->MarkUsed("board", 1000).error, "");
  EXPECT_EQ(store->MarkSpoiled("board", 1001).error, "");
  EXPECT_EQ(store->MarkUsed("cover", 1).error, "");
  EXPECT_THAT(store->MarkUsed("board", 1005).error, HasSubstr("number 1005 of the serial number sequence \"board\""));
  EXPECT_THAT(store->MarkSpoiled("cover", 1000).error, HasSubstr("it was never handed out"));

  RawConnection raw(url);
  QSqlQuery rows(raw.Db());
  ASSERT_TRUE(rows.exec(
      "SELECT sequence_name, number, station, state FROM serial_allocations ORDER BY sequence_name, number"));
  std::string seen;
  while (rows.next()) {
    for (int column = 0; column < 4; ++column) seen += rows.value(column).toString().toStdString() + " ";
    seen += "\n";
  }
  EXPECT_EQ(seen,
            "board 1000 st-1 used \nboard 1001 st-1 spoiled \nboard 1002 st-1 allocated \n"
            "board 1003 st-2 allocated \nboard 1004 st-2 allocated \ncover 1 st-2 used \n");
}

TEST_P(StoreTest, RefusesAStoreThatANewerProgramWrote) {
  const std::string url = NewUrl();
  ASSERT_TRUE(OpenOrFail(url));
  ASSERT_TRUE(OpenOrFail(url));  // the second open finds the schema current
  RawConnection(url).Exec("INSERT INTO schema_version (version, applied_utc) VALUES (" +
                          std::to_string(LatestSchemaVersion() + 1) + ", '2030-01-01T00:00:00.000Z')");
  StoreResult result;
  EXPECT_FALSE(RecordStore::Open(url, &result));
  EXPECT_THAT(result.error, HasSubstr("the record store " + Shown(url) + " was written by a newer QUARNEL"));
}

}  // namespace
}  // namespace quarnel::records::test
