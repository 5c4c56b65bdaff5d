#pragma once

#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QString>

namespace quarnel {

// The log's lines for a list view with uniform item sizes. A verify against
// an erased chip adds one line per differing byte, so the lines are kept as
// they are saved, in the single-byte code page and each followed by CR LF,
// in one buffer; the view converts only the rows it shows.
class LogModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Characters outside Latin-1 are stored as "?".
  void Append(const QString& line);
  void Clear();
  QString Line(int row) const;

  // Writes every line followed by CR LF, nothing else. The file is replaced
  // only when all of it was written; false leaves it as it was. In a folder
  // that takes no new files an existing file is written over in place.
  bool Save(const QString& path) const;

 private:
  std::string text_;
  std::vector<size_t> lineEnds_;  // offset just past each line's CR LF
};

}  // namespace quarnel
