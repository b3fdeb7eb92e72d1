// The request list's model: a thin Qt view of the capture's request rows, decoded for display
// only when a row is painted.
#pragma once

#include <QAbstractListModel>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace korva {

class RequestRows;

class RequestListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // `rows` is not owned and must outlive the model, or be replaced by setRows() first.
  explicit RequestListModel(const RequestRows* rows, QObject* parent = nullptr);

  void setRows(const RequestRows* rows);
  // Runs `change`, which alters the rows, inside a model reset, also when it throws.
  template <typename F>
  void reset(F&& change) {
    beginResetModel();
    try {
      change();
    } catch (...) {
      endResetModel();
      throw;
    }
    endResetModel();
  }

  // Shows only these rows of the capture (ascending); without, every row.
  void setKept(std::optional<std::vector<std::uint32_t>> kept);
  bool isFiltered() const { return kept_.has_value(); }
  // Rows of the list, which under a filter are fewer than the capture's.
  int count() const;
  int totalCount() const;
  // The capture row that list row `row` shows, or -1.
  int captureRow(int row) const;
  // The list row that shows capture row `captureRow`, or -1 when the filter hides it.
  int listRow(int captureRow) const;
  // The entry's bytes as the file holds them; empty for a row out of range.
  std::string_view line(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  const RequestRows* rows_;
  std::optional<std::vector<std::uint32_t>> kept_;
};

}  // namespace korva
