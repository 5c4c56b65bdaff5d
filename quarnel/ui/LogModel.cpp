#include "ui/LogModel.h"

#include <QSaveFile>

namespace quarnel {

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  return lines_[static_cast<size_t>(index.row())];
}

void LogModel::Append(const QString& line) {
  const int row = rowCount();
  beginInsertRows(QModelIndex(), row, row);
  lines_.push_back(line);
  endInsertRows();
}

void LogModel::Clear() {
  beginResetModel();
  lines_.clear();
  lines_.shrink_to_fit();
  endResetModel();
}

bool LogModel::Save(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QByteArray chunk;
  constexpr qsizetype kChunkBytes = 1 << 20;
  for (const QString& line : lines_) {
    chunk += line.toLatin1();
    chunk += "\r\n";
    if (chunk.size() >= kChunkBytes) {
      if (file.write(chunk) != chunk.size()) return false;
      chunk.clear();
    }
  }
  if (file.write(chunk) != chunk.size()) return false;
  return file.commit();
}

}  // namespace quarnel
