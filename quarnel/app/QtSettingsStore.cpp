#include "app/QtSettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace quarnel {

QtSettingsStore::QtSettingsStore() : settings_(QStringLiteral("Zentor"), QStringLiteral("QUARNEL")) {
  RestrictToOwner();
}

QString QtSettingsStore::Key(const std::string& key) {
  return QStringLiteral("Settings/") + QString::fromStdString(key);
}

// Creates the file owner-only before QSettings first writes it, and puts the
// mode back after each write, since QSettings replaces the file on sync.
void QtSettingsStore::RestrictToOwner() const {
  const QByteArray path = QFile::encodeName(settings_.fileName());
  QDir().mkpath(QFileInfo(settings_.fileName()).absolutePath());
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd >= 0) {
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
  }
}

std::optional<std::string> QtSettingsStore::ReadText(const std::string& key) {
  const QVariant value = settings_.value(Key(key));
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdString();
}

int QtSettingsStore::ReadInt(const std::string& key, int defaultValue) {
  bool ok = false;
  const int value = settings_.value(Key(key)).toInt(&ok);
  return ok ? value : defaultValue;
}

bool QtSettingsStore::Store(const std::string& key, const QVariant& value) {
  settings_.setValue(Key(key), value);
  settings_.sync();
  RestrictToOwner();
  return settings_.status() == QSettings::NoError;
}

bool QtSettingsStore::WriteText(const std::string& key, const std::string& value) {
  return Store(key, QString::fromStdString(value));
}

bool QtSettingsStore::WriteInt(const std::string& key, int value) { return Store(key, value); }

}  // namespace quarnel
