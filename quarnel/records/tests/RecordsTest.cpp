#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>

#include "StoreBackends.h"
#include "records/RecordStore.h"
#include "records/StoreLocation.h"

namespace quarnel::records::test {
namespace {

using ::testing::HasSubstr;

INSTANTIATE_TEST_SUITE_P(Embedded, StoreTest, ::testing::Values(Backend::kSqlite), BackendName);

TEST(StoreLocationTest, ReadsEveryFormOfLocation) {
  const struct {
    std::string text;
    const char* driver;
    const char* database;
    const char* host;
    int port;
    const char* user;
    const char* password;
    const char* options;
    std::string shown;
  } cases[] = {
      {"postgresql://quarnel@%2Ftmp%2Fpg:5433/records", "QPSQL", "records", "/tmp/pg", 5433, "quarnel", "", "",
       "postgresql://quarnel@%2Ftmp%2Fpg:5433/records"},
      {"postgres://line:p%40ss:w@db.zentor.example/records%2D1?sslmode=require&connect_timeout=5", "QPSQL",
       "records-1", "db.zentor.example", -1, "line", "p@ss:w", "sslmode=require;connect_timeout=5",
       "postgres://line@db.zentor.example/records%2D1"},
      {"postgresql://[::1]:6000/r", "QPSQL", "r", "::1", 6000, "", "", "", "postgresql://[::1]:6000/r"},
      {"sqlite:/var/lib/quarnel/records.sqlite", "QSQLITE", "/var/lib/quarnel/records.sqlite", "", -1, "", "", "",
       "/var/lib/quarnel/records.sqlite"},
      {"sqlite:///var/records.sqlite", "QSQLITE", "/var/records.sqlite", "", -1, "", "", "", "/var/records.sqlite"},
      {"relative/records.sqlite", "QSQLITE", "relative/records.sqlite", "", -1, "", "", "", "relative/records.sqlite"},
      {"", "QSQLITE", "", "", -1, "", "", "", RecordStore::DefaultLocation()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    std::optional<StoreLocation> location = ParseLocation(c.text, &error);
    ASSERT_TRUE(location) << error;
    EXPECT_EQ(location->driver.toStdString(), c.driver);
    if (!c.text.empty()) {
      EXPECT_EQ(location->databaseName.toStdString(), c.database);
    }
    EXPECT_EQ(location->host.toStdString(), c.host);
    EXPECT_EQ(location->port, c.port);
    EXPECT_EQ(location->user.toStdString(), c.user);
    EXPECT_EQ(location->password.toStdString(), c.password);
    EXPECT_EQ(location->options.toStdString(), c.options);
    EXPECT_EQ(location->shown, c.shown);
  }
}

TEST(StoreLocationTest, TellsWhatIsWrongWithALocationOrTheStoreBehindIt) {
  char pattern[] = "/tmp/quarnel-records-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  std::ofstream(folder + "/notes.txt") << "not a database, but long enough to be read as a header page\n";
  const struct {
    std::string url;
    std::string error;
  } cases[] = {
      {"postgresql://quarnel@host", "no database name at the end of postgresql://quarnel@host"},
      {"postgresql://quarnel@host/", "no database name"},
      {"postgresql://quarnel@host:54x/db", "\"54x\" is not a port number in postgresql://quarnel@host:54x/db"},
      {"postgresql://quarnel@host:70000/db", "\"70000\" is not a port number"},
      {"mysql://quarnel@host/db", "mysql://quarnel@host/db is no record store location"},
      {"sqlite:", "no file name after sqlite:"},
      {"sqlite:" + folder + "/missing/records.sqlite",
       "cannot open the record store " + folder + "/missing/records.sqlite"},
      {folder + "/notes.txt", "cannot use the record store " + folder + "/notes.txt: file is not a database"},
      {"postgresql://quarnel:secret@" + std::string("%2Fnonexistent") + ":5/db",
       "cannot open the record store postgresql://quarnel@%2Fnonexistent:5/db: "},
  };
  for (const auto& c : cases) {
    StoreResult result;
    EXPECT_FALSE(RecordStore::Open(c.url, &result)) << c.url;
    EXPECT_THAT(result.error, HasSubstr(c.error));
    EXPECT_THAT(result.error, ::testing::Not(HasSubstr("secret")));
  }
  std::filesystem::remove_all(folder);
}

TEST(StoreLocationTest, DefaultStoreLivesInTheUsersDataFolderReadableByThemAlone) {
  char pattern[] = "/tmp/quarnel-records-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string home = pattern;
  const std::string realHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(RecordStore::DefaultLocation(), home + "/.local/share/Zentor/QUARNEL/records.sqlite");
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  EXPECT_EQ(RecordStore::DefaultLocation(), home + "/data/Zentor/QUARNEL/records.sqlite");

  StoreResult result;
  EXPECT_TRUE(RecordStore::Open("", &result)) << result.error;
  for (const char* folder : {"/data", "/data/Zentor", "/data/Zentor/QUARNEL"}) {
    struct stat info {};
    ASSERT_EQ(stat((home + folder).c_str(), &info), 0) << folder;
    EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(RecordStore::DefaultLocation()));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", realHome.c_str(), 1);
  std::filesystem::remove_all(home);
}

// One quarnel-cli run in a process of its own: opens the store, adds one
// record and either closes the store or dies without closing it. The exit
// status tells whether the store took the record.
int AddInProcessOfItsOwn(const std::string& url, int run, bool crash) {
  const pid_t child = fork();
  if (child == 0) {
    StoreResult result;
    std::unique_ptr<RecordStore> store = RecordStore::Open(url, &result);
    BoardRecord record;
    record.runId = "run-" + std::to_string(run);
    record.utcTime = "2026-12-08T10:00:00Z";
    const bool added = store && store->Add({record}).Ok();
    if (!crash) store.reset();
    _exit(added ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SqliteStoreTest, KeepsWhatRunsAddedAlsoWhenTheyDieAndKeepsItsLogShort) {
  char pattern[] = "/tmp/quarnel-records-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/records.sqlite";
  constexpr int kRuns = 60;  // each adds 3 pages to the log: past the checkpoint at 128
  for (int run = 0; run < kRuns; ++run) ASSERT_EQ(AddInProcessOfItsOwn(path, run, run % 2 == 1), 0) << run;

  // A page and its frame header per frame, after the log's own header.
  EXPECT_LE(std::filesystem::file_size(path + "-wal"), 32u + 130u * (4096u + 24u));
  StoreResult result;
  std::unique_ptr<RecordStore> store = RecordStore::Open(path, &result);
  ASSERT_TRUE(store) << result.error;
  std::vector<BoardRecord> records;
  ASSERT_TRUE(store->Records({}, &records).Ok());
  ASSERT_EQ(records.size(), size_t{kRuns});
  for (int run = 0; run < kRuns; ++run) EXPECT_EQ(records[run].runId, "run-" + std::to_string(run));
  store.reset();
  std::filesystem::remove_all(pattern);
}

TEST(RecordsTextTest, CsvQuotesWhereNeededAndJsonKeepsTypes) {
  BoardRecord full;
  full.runId = "r1";
  full.utcTime = "2026-12-08T10:00:00.250Z";
  full.station = "st";
  full.targetDescription = "KT51456, \"rev B\"\nline 2";
  full.slot = 3;
  full.targetNumber = 7;
  full.crc32 = 0xBEEF;
  full.serialNumber = 9007199254740993ull;
  full.bytesWritten = 65536;
  full.durationSeconds = 0.1;
  full.rateKiBps = 640;
  full.result = "pass";
  BoardRecord bare;
  bare.runId = "r2";
  bare.attempt = 3;
  bare.status = -5;
  bare.statusText = "Timeout\r";

  EXPECT_EQ(RecordsCsv({full, bare}),
            "run_id,attempt,utc_time,station,version,operation,target_description,slot,target_number,device_path,"
            "firmware,chip_name,image_sha256,crc32,serial_number,bytes_written,duration_seconds,rate_kibps,result,"
            "status,status_text\n"
            "r1,1,2026-12-08T10:00:00.250Z,st,,,\"KT51456, \"\"rev B\"\"\nline 2\",3,7,,,,,0000BEEF,"
            "9007199254740993,65536,0.1,640,pass,0,\n"
            "r2,3,,,,,,,0,,,,,,,0,0,0,,-5,\"Timeout\r\"\n");

  const QJsonArray array = QJsonDocument::fromJson(QByteArray::fromStdString(RecordsJson({full, bare}))).array();
  ASSERT_EQ(array.size(), 2);
  const QJsonObject first = array[0].toObject();
  EXPECT_EQ(first.size(), 21);
  EXPECT_EQ(first["crc32"].toString(), "0000BEEF");
  EXPECT_EQ(first["serial_number"].toInteger(), 9007199254740993ll);
  EXPECT_EQ(first["target_description"].toString(), "KT51456, \"rev B\"\nline 2");
  EXPECT_EQ(first["duration_seconds"].toDouble(), 0.1);
  EXPECT_EQ(first["slot"].toInt(), 3);
  const QJsonObject second = array[1].toObject();
  for (const char* absent : {"slot", "crc32", "serial_number"}) EXPECT_TRUE(second[absent].isNull()) << absent;
  EXPECT_EQ(second["status"].toInt(), -5);
  EXPECT_EQ(RecordsJson({}), "[\n]\n");
}

}  // namespace
}  // namespace quarnel::records::test
