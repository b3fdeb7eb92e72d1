// The request list's model: a thin Qt view of the viewer core's list, decoded for display only
// when a row is painted.
#pragma once

#include <QAbstractListModel>

namespace korva {

class Viewer;
struct ListChange;

class RequestListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // `viewer` is not owned and must outlive the model, or be replaced by setViewer() first.
  explicit RequestListModel(const Viewer* viewer, QObject* parent = nullptr);

  void setViewer(const Viewer* viewer);
  // Around a change of the viewer's list: appended rows are inserted, anything else resets.
  void beginChange(const ListChange& change);
  void endChange(const ListChange& change);

  bool isFiltered() const;
  // Rows of the list, which under a filter are fewer than the capture's.
  int count() const;
  int totalCount() const;
  // The capture row that list row `row` shows, or -1.
  int captureRow(int row) const;
  // The list row that shows capture row `captureRow`, or -1 when the filter hides it.
  int listRow(int captureRow) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  const Viewer* viewer_;
};

}  // namespace korva
