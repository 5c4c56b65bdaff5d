// The settings file as the program writes it. A folder that is a regular
// file makes every write fail, root's too.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/QtSettingsStore.h"

namespace quarnel {
namespace {

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(QtSettingsStore, EachWriteIsJudgedOnItsOwnAndTheSecurityIdGoesWithItsSize) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.filePath(QStringLiteral("Zentor"));
  {
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }
  const QString path = folder + QStringLiteral("/QUARNEL.conf");
  QtSettingsStore store(path);
  EXPECT_EQ(store.Location(), path.toStdString());
  EXPECT_FALSE(store.WriteText("TRGNAME", "KT51456"));
  EXPECT_FALSE(store.WriteTexts({{"SECUREIDSIZE", "8"}, {"SECUREID", "0001000200030004"}}));

  // Once the folder can be made, the next writes are stored and say so.
  ASSERT_TRUE(QFile::remove(folder));
  EXPECT_TRUE(store.WriteText("TRGNAME", "KT4351235"));
  EXPECT_TRUE(store.WriteTexts({{"SECUREIDSIZE", "4"}, {"SECUREID", "12345678"}}));
  const QByteArray stored = FileBytes(path);
  EXPECT_TRUE(stored.contains("TRGNAME=KT4351235")) << stored.toStdString();
  EXPECT_TRUE(stored.contains("SECUREIDSIZE=4")) << stored.toStdString();
  EXPECT_TRUE(stored.contains("SECUREID=12345678")) << stored.toStdString();
  EXPECT_EQ(QFileInfo(path).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
            QFile::Permissions());

  QtSettingsStore reread(path);
  EXPECT_EQ(reread.ReadText("TRGNAME"), "KT4351235");
  EXPECT_EQ(reread.ReadInt("SECUREIDSIZE", 0), 4);
  EXPECT_EQ(reread.ReadText("SECUREID"), "12345678");
}

}  // namespace
}  // namespace quarnel
