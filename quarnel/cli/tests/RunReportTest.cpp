#include "cli/RunReport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>

namespace quarnel::cli {
namespace {

Options VerifyOptions() {
  Options options = *ParseCommandLine({"--target", "KT51456", "--emulators", "all", "--serial", "1FFC:7:2", "verify",
                                       "a.hex", "--offset", "-100", "--end", "file"})
                         .options;
  return options;
}

TEST(RunReport, HoldsTheRunItsOptionsAndEachTarget) {
  RunReport report;
  report.operation = "verify";
  report.exitCode = kTargetFailed;
  report.imageSha256 = "ab01";
  report.seconds = 2;
  report.bytes = 4096;
  report.targets.push_back({1, 3, "/sim/korvo-00", "9.99", std::vector<uint8_t>{0x00, 0x07}, 0, 0, 0x0BADF00Du, {}, 1, true});
  report.targets.push_back(
      {2, std::nullopt, "/sim/korvo-01", "9.99", std::vector<uint8_t>{0x00, 0x08}, 0x6305, 12, {}, {}, 2, false});
  const QJsonObject json =
      QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(VerifyOptions(), report))).object();
  EXPECT_EQ(json["operation"].toString(), "verify");
  EXPECT_EQ(json["targetDescription"].toString(), "KT51456");
  EXPECT_EQ(json["result"].toString(), "fail");
  EXPECT_EQ(json["exitCode"].toInt(), 1);
  EXPECT_EQ(json["imageSha256"].toString(), "ab01");
  EXPECT_EQ(json["kibPerSecond"].toDouble(), 2.0);
  const QJsonObject options = json["options"].toObject();
  EXPECT_EQ(options["emulators"].toString(), "all");
  EXPECT_EQ(options["serial"].toObject()["address"].toInt(), 0x1FFC);
  EXPECT_EQ(options["files"].toArray()[0].toObject()["offset"].toString(), "-100");
  EXPECT_EQ(options["files"].toArray()[0].toObject()["end"].toString(), "file");
  const QJsonArray targets = json["targets"].toArray();
  ASSERT_EQ(targets.size(), 2);
  EXPECT_EQ(targets[0]["result"].toString(), "pass");
  EXPECT_EQ(targets[0]["statusText"].toString(), "");
  EXPECT_EQ(targets[0]["differences"].toInt(), 0);
  EXPECT_EQ(targets[0]["slot"].toInt(), 3);
  EXPECT_EQ(targets[0]["crc32"].toString(), "0BADF00D");
  EXPECT_TRUE(targets[1]["slot"].isNull());
  EXPECT_TRUE(targets[1]["crc32"].isNull());
  EXPECT_EQ(targets[1]["attempts"].toInt(), 2);
  EXPECT_EQ(targets[1]["devicePath"].toString(), "/sim/korvo-01");
  EXPECT_EQ(targets[1]["serialNumber"].toString(), "0008");
  EXPECT_EQ(targets[1]["status"].toInt(), 0x6305);
  EXPECT_TRUE(targets[1]["statusText"].toString().endsWith("(Error code: 0x6305)"));
  EXPECT_EQ(targets[1]["differences"].toInt(), 12);
  EXPECT_EQ(targets[1]["result"].toString(), "fail");
}

TEST(RunReport, IsWrittenWholeOrNotAtAll) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quarnel-report-test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "run.json").string();
  std::ofstream(path) << "old";
  RunReport report;
  EXPECT_TRUE(WriteReportFile(path, VerifyOptions(), report));
  EXPECT_NE(std::ifstream(path).peek(), 'o');
  EXPECT_FALSE(WriteReportFile((dir / "missing" / "run.json").string(), VerifyOptions(), report));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quarnel::cli
