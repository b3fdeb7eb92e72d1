// The request list: rows of one height, painted and measured only where they are in view.
// QListView lays out every row again after each insert or reset, which at ten million requests
// held the window for a third of a second at every refresh; here an append or a reset costs the
// scroll bar's new range and a paint of what is visible.
#pragma once

#include <QAbstractItemView>

namespace korva {

class RequestListView : public QAbstractItemView {
  Q_OBJECT

 public:
  explicit RequestListView(QWidget* parent = nullptr);

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  int rowHeight() const { return rowHeight_; }
  // The first row in view; the vertical scroll bar counts rows.
  int firstVisibleRow() const;

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex&) const override { return false; }
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void paintEvent(QPaintEvent* event) override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void changeEvent(QEvent* event) override;

 public:
  void reset() override;

 private:
  int rowCount() const;
  int visibleRows() const;  // rows that fit whole, at least one
  void measureRowHeight();

  int rowHeight_ = 16;
  int contentWidth_ = 0;  // the widest row painted so far
};

}  // namespace korva
