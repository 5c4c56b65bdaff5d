#include "app/QtSettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace quarnel {

QtSettingsStore::QtSettingsStore()
    : QtSettingsStore(QSettings(QStringLiteral("Zentor"), QStringLiteral("QUARNEL")).fileName()) {}

QtSettingsStore::QtSettingsStore(QString fileName) : fileName_(std::move(fileName)) { RestrictToOwner(); }

QString QtSettingsStore::Key(const std::string& key) {
  return QStringLiteral("Settings/") + QString::fromStdString(key);
}

// Creates the file owner-only before QSettings first writes it, and puts the
// mode back after each write, since QSettings replaces the file on sync.
void QtSettingsStore::RestrictToOwner() const {
  const QByteArray path = QFile::encodeName(fileName_);
  QDir().mkpath(QFileInfo(fileName_).absolutePath());
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd >= 0) {
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
  }
}

QVariant QtSettingsStore::Value(const std::string& key) const {
  const QSettings settings(fileName_, QSettings::IniFormat);
  return settings.value(Key(key));
}

std::optional<std::string> QtSettingsStore::ReadText(const std::string& key) {
  const QVariant value = Value(key);
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdString();
}

int QtSettingsStore::ReadInt(const std::string& key, int defaultValue) {
  bool ok = false;
  const int value = Value(key).toInt(&ok);
  return ok ? value : defaultValue;
}

// All values reach the file in one sync, so they are stored together or not at all.
bool QtSettingsStore::Store(const std::vector<std::pair<std::string, QVariant>>& values) {
  RestrictToOwner();
  QSettings settings(fileName_, QSettings::IniFormat);
  for (const auto& [key, value] : values) settings.setValue(Key(key), value);
  settings.sync();
  const bool stored = settings.status() == QSettings::NoError;
  RestrictToOwner();
  return stored;
}

bool QtSettingsStore::WriteText(const std::string& key, const std::string& value) {
  return Store({{key, QString::fromStdString(value)}});
}

bool QtSettingsStore::WriteInt(const std::string& key, int value) { return Store({{key, value}}); }

bool QtSettingsStore::WriteTexts(const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::pair<std::string, QVariant>> stored;
  for (const auto& [key, value] : values) stored.emplace_back(key, QString::fromStdString(value));
  return Store(stored);
}

}  // namespace quarnel
