#include "app/request_list_model.h"

#include "view/qt_text.h"
#include "view/text_decode.h"
#include "viewer/viewer.h"

namespace korva {

RequestListModel::RequestListModel(const Viewer* viewer, QObject* parent)
    : QAbstractListModel(parent), viewer_(viewer) {}

void RequestListModel::setViewer(const Viewer* viewer) {
  beginResetModel();
  viewer_ = viewer;
  endResetModel();
}

void RequestListModel::beginChange(const ListChange& change) {
  if (change.kind == ListChange::Kind::Appended)
    beginInsertRows(QModelIndex(), static_cast<int>(change.first),
                    static_cast<int>(change.first + change.count) - 1);
  else
    beginResetModel();
}

void RequestListModel::endChange(const ListChange& change) {
  if (change.kind == ListChange::Kind::Appended)
    endInsertRows();
  else
    endResetModel();
}

bool RequestListModel::isFiltered() const { return viewer_ && viewer_->filtered(); }

int RequestListModel::totalCount() const {
  return viewer_ ? static_cast<int>(viewer_->totalCount()) : 0;
}

int RequestListModel::count() const { return viewer_ ? static_cast<int>(viewer_->listCount()) : 0; }

int RequestListModel::captureRow(int row) const {
  if (!viewer_ || row < 0) return -1;
  const auto captured = viewer_->captureRow(static_cast<std::size_t>(row));
  return captured ? static_cast<int>(*captured) : -1;
}

int RequestListModel::listRow(int captureRow) const {
  if (!viewer_ || captureRow < 0) return -1;
  const auto at = viewer_->listRow(static_cast<std::size_t>(captureRow));
  return at ? static_cast<int>(*at) : -1;
}

int RequestListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count();
}

QVariant RequestListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || !viewer_) return {};
  return toQString(decodeLine(viewer_->listEntry(static_cast<std::size_t>(index.row()))));
}

}  // namespace korva
