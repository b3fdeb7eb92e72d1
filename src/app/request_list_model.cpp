#include "app/request_list_model.h"

#include "capture/request_rows.h"
#include "view/qt_text.h"
#include "view/text_decode.h"

namespace korva {

RequestListModel::RequestListModel(const RequestRows* rows, QObject* parent)
    : QAbstractListModel(parent), rows_(rows) {}

void RequestListModel::setRows(const RequestRows* rows) {
  reset([&] { rows_ = rows; });
}

int RequestListModel::count() const { return rows_ ? static_cast<int>(rows_->size()) : 0; }

std::string_view RequestListModel::line(int row) const {
  if (!rows_ || row < 0) return {};
  return rows_->entry(static_cast<std::size_t>(row));
}

int RequestListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count();
}

QVariant RequestListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return toQString(decodeLine(line(index.row())));
}

}  // namespace korva
