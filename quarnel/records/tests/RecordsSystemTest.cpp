// Many processes allocating serial numbers from one sequence at once, on
// SQLite and on a PostgreSQL server of the test's own; and the store's
// behaviour on PostgreSQL. The test binary runs itself as the allocating
// processes: `records_system_test --allocate-child URL SEQUENCE INDEX FILE`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <numeric>

#include "StoreBackends.h"
#include "records/RecordStore.h"

extern char** environ;

namespace quarnel::records::test {
namespace {

constexpr int kProcesses = 8;
constexpr int kBatches = 25;
constexpr uint64_t kFirst = 100000;
const char* const kSequence = "board";

// Child `child`'s batch `batch` takes 1 to 4 numbers, so that batches of
// different sizes interleave.
uint32_t BatchSize(int child, int batch) { return 1 + (child + batch) % 4; }

bool Spoiled(uint64_t number) { return number % 3 == 0; }

int TotalNumbers() {
  int total = 0;
  for (int child = 0; child < kProcesses; ++child)
    for (int batch = 0; batch < kBatches; ++batch) total += static_cast<int>(BatchSize(child, batch));
  return total;
}

// Opens the store, which may still be empty, and creates the sequence
// unless another child was first (then it is refused). Then allocates the
// child's batches, marks each number, and lists the numbers it got in
// `file`, one a line. Exit code 0 when every call succeeded.
int AllocateAsChild(const std::string& url, const std::string& sequence, int child, const std::string& file) {
  StoreResult result;
  std::unique_ptr<RecordStore> store = RecordStore::Open(url, &result);
  if (store) store->CreateSequence(sequence, kFirst);
  std::ofstream out(file);
  for (int batch = 0; store && result.Ok() && batch < kBatches; ++batch) {
    std::vector<uint64_t> numbers;
    result = store->Allocate(sequence, BatchSize(child, batch), "station-" + std::to_string(child), &numbers);
    for (size_t i = 0; result.Ok() && i < numbers.size(); ++i) {
      out << numbers[i] << "\n";
      result = Spoiled(numbers[i]) ? store->MarkSpoiled(sequence, numbers[i]) : store->MarkUsed(sequence, numbers[i]);
    }
  }
  if (result.Ok()) return 0;
  std::fprintf(stderr, "child %d: %s\n", child, result.error.c_str());
  return 1;
}

pid_t StartChild(const std::string& url, int child, const std::string& file) {
  std::vector<std::string> words = {"/proc/self/exe", "--allocate-child", url, kSequence, std::to_string(child), file};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

std::vector<uint64_t> NumbersIn(const std::string& file) {
  std::vector<uint64_t> numbers;
  std::ifstream in(file);
  for (uint64_t number; in >> number;) numbers.push_back(number);
  return numbers;
}

class AllocationTest : public StoreTest {};

// The children also race to set up the new store and create the sequence.
TEST_P(AllocationTest, EightProcessesTakeOneGaplessRunWithoutRepeats) {
  const std::string url = NewUrl();
  std::vector<pid_t> children;
  for (int child = 0; child < kProcesses; ++child)
    children.push_back(StartChild(url, child, folder_ + "/child-" + std::to_string(child)));
  for (pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a child failed, see its message above";
  }

  std::vector<uint64_t> handedOut;
  for (int child = 0; child < kProcesses; ++child) {
    std::vector<uint64_t> own = NumbersIn(folder_ + "/child-" + std::to_string(child));
    EXPECT_TRUE(std::is_sorted(own.begin(), own.end())) << "child " << child;
    handedOut.insert(handedOut.end(), own.begin(), own.end());
  }
  std::sort(handedOut.begin(), handedOut.end());
  std::vector<uint64_t> expected(TotalNumbers());
  std::iota(expected.begin(), expected.end(), kFirst);
  EXPECT_EQ(handedOut, expected);  // none twice, none skipped

  RawConnection raw(url);
  QSqlQuery rows(raw.Db());
  ASSERT_TRUE(rows.exec("SELECT number, state FROM serial_allocations ORDER BY number"));
  std::vector<uint64_t> noted;
  int wrongStates = 0;
  while (rows.next()) {
    noted.push_back(rows.value(0).toULongLong());
    wrongStates += rows.value(1).toString() != (Spoiled(noted.back()) ? "spoiled" : "used");
  }
  EXPECT_EQ(noted, expected);
  EXPECT_EQ(wrongStates, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, AllocationTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(Server, StoreTest, ::testing::Values(Backend::kPostgres), BackendName);

}  // namespace
}  // namespace quarnel::records::test

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--allocate-child")
    return quarnel::records::test::AllocateAsChild(argv[2], argv[3], std::atoi(argv[4]), argv[5]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
