#pragma once

#include <vector>

#include <QAbstractListModel>
#include <QString>

namespace quarnel {

// The log's lines as plain strings, one row each, for a list view with
// uniform item sizes: a verify against an erased chip adds one line per
// differing byte, so rows must stay cheap.
class LogModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void Append(const QString& line);
  void Clear();
  const std::vector<QString>& Lines() const { return lines_; }

  // Writes every line followed by CR LF in Latin-1, nothing else. The file
  // is replaced only when all of it was written; false leaves it as it was.
  bool Save(const QString& path) const;

 private:
  std::vector<QString> lines_;
};

}  // namespace quarnel
