#include "ui/LogModel.h"

#include <QSaveFile>

namespace quarnel {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr size_t kLineEndSize = 2;

}  // namespace

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lineEnds_.size());
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  return Line(index.row());
}

QString LogModel::Line(int row) const {
  const size_t index = static_cast<size_t>(row);
  const size_t start = index == 0 ? 0 : lineEnds_[index - 1];
  const size_t size = lineEnds_[index] - kLineEndSize - start;
  return QString::fromLatin1(text_.data() + start, static_cast<qsizetype>(size));
}

void LogModel::Append(const QString& line) {
  const int row = rowCount();
  beginInsertRows(QModelIndex(), row, row);
  text_ += line.toLatin1().toStdString();
  text_ += kLineEnd;
  lineEnds_.push_back(text_.size());
  endInsertRows();
}

void LogModel::Clear() {
  beginResetModel();
  text_ = std::string();
  lineEnds_ = std::vector<size_t>();
  endResetModel();
}

bool LogModel::Save(const QString& path) const {
  QSaveFile file(path);
  // A folder where no new file may be made leaves only the old file to
  // write over; elsewhere the old file stays whole until the new one is.
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const qint64 size = static_cast<qint64>(text_.size());
  if (file.write(text_.data(), size) != size) return false;
  return file.commit();
}

}  // namespace quarnel
