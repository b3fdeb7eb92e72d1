#include "app/request_list_view.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace korva {

RequestListView::RequestListView(QWidget* parent) : QAbstractItemView(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  measureRowHeight();
}

int RequestListView::rowCount() const { return model() ? model()->rowCount(rootIndex()) : 0; }

int RequestListView::visibleRows() const { return std::max(1, viewport()->height() / rowHeight_); }

int RequestListView::firstVisibleRow() const { return verticalScrollBar()->value(); }

// The height the delegate gives a row of this font, as QListView's uniform rows have it.
void RequestListView::measureRowHeight() {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.text = QStringLiteral("Xg");
  option.features |= QStyleOptionViewItem::HasDisplay;
  const QSize size = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
  rowHeight_ = std::max({1, size.height(), fontMetrics().height()});
}

void RequestListView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    measureRowHeight();
    contentWidth_ = 0;
    updateGeometries();
  }
  QAbstractItemView::changeEvent(event);
}

QRect RequestListView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != model()) return {};
  const int y = (index.row() - firstVisibleRow()) * rowHeight_;
  return {-horizontalOffset(), y, std::max(contentWidth_, viewport()->width()), rowHeight_};
}

void RequestListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  const int row = index.row();
  const int first = firstVisibleRow();
  const int shown = visibleRows();
  int top = first;
  switch (hint) {
    case EnsureVisible:
      if (row < first)
        top = row;
      else if (row >= first + shown)
        top = row - shown + 1;
      break;
    case PositionAtTop:
      top = row;
      break;
    case PositionAtBottom:
      top = row - shown + 1;
      break;
    case PositionAtCenter:
      top = row - shown / 2;
      break;
  }
  verticalScrollBar()->setValue(top);
}

QModelIndex RequestListView::indexAt(const QPoint& point) const {
  if (point.y() < 0 || !model()) return {};
  const long long row = firstVisibleRow() + point.y() / rowHeight_;
  if (row >= rowCount()) return {};
  return model()->index(static_cast<int>(row), 0, rootIndex());
}

QModelIndex RequestListView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int rows = rowCount();
  if (rows == 0) return {};
  const int current = currentIndex().isValid() ? currentIndex().row() : -1;
  int row = current;
  switch (action) {
    case MoveUp:
    case MovePrevious:
      row = current < 0 ? 0 : current - 1;
      break;
    case MoveDown:
    case MoveNext:
      row = current + 1;
      break;
    case MovePageUp:
      row = current - visibleRows();
      break;
    case MovePageDown:
      row = current + visibleRows();
      break;
    case MoveHome:
      row = 0;
      break;
    case MoveEnd:
      row = rows - 1;
      break;
    case MoveLeft:
    case MoveRight:
      return currentIndex();
  }
  return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

int RequestListView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int RequestListView::verticalOffset() const { return firstVisibleRow() * rowHeight_; }

void RequestListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  const QModelIndex index = indexAt(rect.topLeft());
  if (index.isValid()) selectionModel()->select(index, command);
}

QRegion RequestListView::visualRegionForSelection(const QItemSelection& selection) const {
  const int first = firstVisibleRow();
  const int last = first + visibleRows();
  QRegion region;
  for (const QItemSelectionRange& range : selection) {
    const int top = std::max(range.top(), first);
    const int bottom = std::min(range.bottom(), last);
    if (top <= bottom)
      region += QRect(0, (top - first) * rowHeight_, viewport()->width(),
                      (bottom - top + 1) * rowHeight_);
  }
  return region;
}

void RequestListView::paintEvent(QPaintEvent* event) {
  if (!model()) return;
  QPainter painter(viewport());
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QStyle::State base = option.state;
  const int rows = rowCount();
  const int first = firstVisibleRow() + event->rect().top() / rowHeight_;
  const int last = std::min(rows - 1, firstVisibleRow() + event->rect().bottom() / rowHeight_);
  const QModelIndex current = currentIndex();
  int widest = contentWidth_;
  for (int row = first; row <= last; ++row) {
    const QModelIndex index = model()->index(row, 0, rootIndex());
    option.rect = visualRect(index);
    option.state = base;
    if (selectionModel() && selectionModel()->isSelected(index))
      option.state |= QStyle::State_Selected;
    if (index == current && hasFocus()) option.state |= QStyle::State_HasFocus;
    widest = std::max(widest, itemDelegate()->sizeHint(option, index).width());
    itemDelegate()->paint(&painter, option, index);
  }
  if (widest > contentWidth_) {
    contentWidth_ = widest;
    updateGeometries();  // the horizontal range follows the widest row seen
  }
}

void RequestListView::updateGeometries() {
  const int rows = rowCount();
  const int shown = visibleRows();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setSingleStep(1);
  vertical->setPageStep(shown);
  vertical->setRange(0, std::max(0, rows - shown));
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
  horizontal->setPageStep(viewport()->width());
  horizontal->setRange(0, std::max(0, contentWidth_ - viewport()->width()));
  QAbstractItemView::updateGeometries();
}

void RequestListView::scrollContentsBy(int, int) { viewport()->update(); }

void RequestListView::rowsInserted(const QModelIndex& parent, int start, int end) {
  QAbstractItemView::rowsInserted(parent, start, end);
  updateGeometries();
  if (start <= firstVisibleRow() + visibleRows()) viewport()->update();
}

void RequestListView::reset() {
  QAbstractItemView::reset();
  updateGeometries();
  viewport()->update();
}

}  // namespace korva
