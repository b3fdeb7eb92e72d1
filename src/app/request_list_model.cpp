#include "app/request_list_model.h"

#include <algorithm>

#include "capture/request_rows.h"
#include "view/qt_text.h"
#include "view/text_decode.h"

namespace korva {

RequestListModel::RequestListModel(const RequestRows* rows, QObject* parent)
    : QAbstractListModel(parent), rows_(rows) {}

void RequestListModel::setRows(const RequestRows* rows) {
  reset([&] { rows_ = rows; });
}

void RequestListModel::setKept(std::optional<std::vector<std::uint32_t>> kept) {
  reset([&] { kept_ = std::move(kept); });
}

int RequestListModel::totalCount() const { return rows_ ? static_cast<int>(rows_->size()) : 0; }

int RequestListModel::count() const {
  return kept_ ? static_cast<int>(kept_->size()) : totalCount();
}

int RequestListModel::captureRow(int row) const {
  if (row < 0 || row >= count()) return -1;
  return kept_ ? static_cast<int>((*kept_)[static_cast<std::size_t>(row)]) : row;
}

int RequestListModel::listRow(int captureRow) const {
  if (captureRow < 0 || captureRow >= totalCount()) return -1;
  if (!kept_) return captureRow;
  const auto at =
      std::lower_bound(kept_->begin(), kept_->end(), static_cast<std::uint32_t>(captureRow));
  return at != kept_->end() && *at == static_cast<std::uint32_t>(captureRow)
             ? static_cast<int>(at - kept_->begin())
             : -1;
}

std::string_view RequestListModel::line(int row) const {
  const int captured = captureRow(row);
  if (!rows_ || captured < 0) return {};
  return rows_->entry(static_cast<std::size_t>(captured));
}

int RequestListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count();
}

QVariant RequestListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return toQString(decodeLine(line(index.row())));
}

}  // namespace korva
