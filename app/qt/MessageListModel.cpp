#include "MessageListModel.h"

namespace postvue {

namespace {
Qt::Alignment ColumnAlignment(int column) {
  switch (kListColumns[static_cast<std::size_t>(column)].Align) {
  case TColumnAlign::Center: return Qt::AlignHCenter | Qt::AlignVCenter;
  case TColumnAlign::Right: return Qt::AlignRight | Qt::AlignVCenter;
  case TColumnAlign::Left: break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}
} // namespace

int TMessageListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return Ordered() ? Order->RowCount() : static_cast<int>(Rows.size());
}

int TMessageListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TMessageListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
  const TMessageRow& row = Row(index.row());
  switch (role) {
  case Qt::DisplayRole:
    // Column 0 is the row's caption, always empty.
    return index.column() == 0 ? QString() : Utf8Text(row.SubItems[static_cast<std::size_t>(index.column() - 1)]);
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(ColumnAlignment(index.column()));
  case ImageIndexRole:
    return row.ImageIndex;
  default:
    return {};
  }
}

QVariant TMessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  switch (role) {
  case Qt::DisplayRole:
    return Utf8Text(kListColumns[static_cast<std::size_t>(section)].Caption);
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(ColumnAlignment(section));
  default:
    return {};
  }
}

Qt::ItemFlags TMessageListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TMessageListModel::Reorder() {
  beginResetModel();
  endResetModel();
}

int TMessageListModel::RowOfMessage(int message) const {
  if (Ordered()) return Order->RowOfMessage(message);
  return message >= 0 && static_cast<std::size_t>(message) < Rows.size() ? message : -1;
}

void TMessageListModel::BeginUpdate() {
  beginResetModel();
  Rows.clear();
  Rows.shrink_to_fit();
  Pending.clear();
  endResetModel();
  InUpdate = true;
}

void TMessageListModel::AddRow(TMessageRow row) {
  if (InUpdate) {
    Pending.push_back(std::move(row));
    return;
  }
  const int at = static_cast<int>(Rows.size());
  beginInsertRows({}, at, at);
  Rows.push_back(std::move(row));
  endInsertRows();
}

void TMessageListModel::EndUpdate() {
  if (!InUpdate) return;
  InUpdate = false;
  if (Pending.empty()) return;
  beginInsertRows({}, 0, static_cast<int>(Pending.size()) - 1);
  Rows.swap(Pending);
  Pending.clear();
  endInsertRows();
}

} // namespace postvue
