// The request list's model: every line of "HtmlRequest.log" in one buffer, decoded for display
// only when a row is painted, so a million requests cost little more than the log's own size.
#pragma once

#include <QAbstractListModel>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

class RequestListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  // Removes every entry.
  void clear();
  // Replaces the entries by the lines of the file, in file order. On a read error the entries
  // read so far stay, and the FileError is thrown on.
  void loadFrom(const std::string& path);
  // Appends one entry; for tests and small lists.
  void append(std::string_view line);

  int count() const { return static_cast<int>(spans_.size()); }
  // The entry's bytes as the file holds them; empty for a row out of range.
  std::string_view line(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  struct Span {
    std::uint64_t offset;
    std::uint32_t length;
  };
  std::string bytes_;
  std::vector<Span> spans_;
};

}  // namespace korva
