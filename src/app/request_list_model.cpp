#include "app/request_list_model.h"

#include <limits>

#include "index/line_reader.h"
#include "view/text_decode.h"

namespace korva {

void RequestListModel::clear() {
  beginResetModel();
  bytes_.clear();
  bytes_.shrink_to_fit();
  spans_.clear();
  spans_.shrink_to_fit();
  endResetModel();
}

void RequestListModel::loadFrom(const std::string& path) {
  std::string bytes;
  std::vector<Span> spans;
  auto publish = [&] {
    beginResetModel();
    bytes_ = std::move(bytes);
    spans_ = std::move(spans);
    endResetModel();
  };
  try {
    LineReader reader(path);
    bytes.reserve(static_cast<std::size_t>(reader.lastKnownLength()));
    spans.reserve(static_cast<std::size_t>(reader.lastKnownLength() / 64));
    std::string line;
    while (reader.readLine(line)) {
      // Rows longer than 4 GiB are cut; no list could show them anyway.
      auto length = static_cast<std::uint32_t>(
          std::min<std::size_t>(line.size(), std::numeric_limits<std::uint32_t>::max()));
      spans.push_back({bytes.size(), length});
      bytes.append(line, 0, length);
    }
  } catch (...) {
    publish();
    throw;
  }
  publish();
}

void RequestListModel::append(std::string_view line) {
  int row = count();
  beginInsertRows(QModelIndex(), row, row);
  spans_.push_back({bytes_.size(), static_cast<std::uint32_t>(line.size())});
  bytes_.append(line);
  endInsertRows();
}

std::string_view RequestListModel::line(int row) const {
  if (row < 0 || row >= count()) return {};
  const Span& s = spans_[static_cast<std::size_t>(row)];
  return std::string_view(bytes_).substr(s.offset, s.length);
}

int RequestListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count();
}

QVariant RequestListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  std::u16string text = decodeLine(line(index.row()));
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace korva
