#include "session/WriterSession.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "base/MemorySettingsStore.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "testing/FakeApi.h"
#include "testing/RecordText.h"
#include "testing/RecordingWindow.h"

namespace quarnel {
namespace {

using testing::FakeApi;
using testing::IntelRecord;
using testing::RecordingWindow;

// One session over two fake boards: a write whose second target fails
// mid-way is judged target by target as it ends, each result is reported,
// and the log ends with the figures.
TEST(WriterSession, JudgesEveryTargetAsAnOperationEndsAndReportsTheFigures) {
  TargetGeometry boards;  // the fake's layout, copied from the applied target
  FakeApi api{boards, 2, 0x10000};
  api.AddDescription("KT51456", {{0x0000, 0xFFFF}}, 0x1000);
  MemorySettingsStore settings;
  RecordingWindow face;
  WriterSession session(api, settings, face);
  ASSERT_EQ(session.ReadDescriptions().failureTextId, 0);
  ASSERT_EQ(session.ApplyDescription("KT0"), WriterSession::Applied::UnknownName);
  ASSERT_EQ(session.ApplyDescription("KT51456"), WriterSession::Applied::Applied);
  boards = session.Target().geometry;

  char folder[] = "/tmp/quarnel_session_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string file = std::string(folder) + "/app.hex";
  std::ofstream(file) << IntelRecord(0, 0x0100, std::vector<uint8_t>(32, 0x5A)) << "\r\n:00000001FF\r\n";
  ASSERT_TRUE(session.Files().AddFileEntry({file, "", "", EndAddressMode::FileContent, ""}));

  api.FailOn("Write", 1, 2, 0x6305);
  WriteSettings write;
  write.fillMode = FillMode::ArbitraryData;
  write.arbitraryData = "FFH";
  EXPECT_EQ(session.Write(write), OperationOutcome::Completed);

  const RunFigures& run = session.LastRun();
  ASSERT_EQ(run.targets.size(), 2u);
  EXPECT_TRUE(run.targets[0].passed);
  EXPECT_FALSE(run.targets[1].passed);
  EXPECT_EQ(run.targets[1].status, 0x6305);
  EXPECT_EQ(face.results, (std::vector<RecordingWindow::Result>{{1, 0, true}, {2, 0x6305, false}}));
  EXPECT_GT(run.bytes, 0u);
  EXPECT_EQ(run.plannedImage.size(), 0x10000u);
  EXPECT_EQ(run.plannedImage[0x100], 0x5A);
  EXPECT_TRUE(face.Logged(FiguresLine(run)));

  // Reading judges each board by the flash it holds; the board that failed
  // takes no part and fails unjudged, keeping its status.
  std::vector<bool> judged;
  const auto judge = [&](uint32_t n, std::optional<std::span<const uint8_t>> image) {
    judged.push_back(image.has_value());
    return FlashVerdict{image && (*image)[0x100] == 0x5A, 0x1234 + n};
  };
  EXPECT_EQ(session.ReadTargets(judge), OperationOutcome::Completed);
  EXPECT_EQ(judged, (std::vector<bool>{true, false}));
  const RunFigures& read = session.LastRun();
  ASSERT_EQ(read.targets.size(), 2u);
  EXPECT_TRUE(read.targets[0].passed);
  EXPECT_EQ(read.targets[0].crc32, 0x1235u);
  EXPECT_FALSE(read.targets[1].passed);
  EXPECT_EQ(read.targets[1].status, 0x6305);
  EXPECT_EQ(read.bytes, FlashContentSize(session.Target().geometry));
  EXPECT_TRUE(face.Logged(FiguresLine(read)));
  session.ReadTargets([](uint32_t, std::optional<std::span<const uint8_t>>) { return FlashVerdict{}; });
  EXPECT_FALSE(session.LastRun().targets[0].passed);

  // A run that ends before writing says why, as its box did.
  write.arbitraryData = "1FFH";
  EXPECT_EQ(session.Write(write), OperationOutcome::NotStarted);
  EXPECT_EQ(session.LastRun().refusal, LoadText(text::kIllegalFillByte));
  EXPECT_TRUE(session.LastRun().targets.empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quarnel
