// The message list's rows: plain texts built once per load, read in O(1),
// shown in the order of the window's list order (sorted, filtered).
#pragma once

#include "ListOrder.h"
#include "QtRowTexts.h"
#include "ViewerLayout.h"

#include <QAbstractTableModel>

#include <vector>

namespace postvue {

class TMessageListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int kColumnCount = kListColumnCount;
  // The row's image index (kImageRead or kImageUnread).
  static constexpr int ImageIndexRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The update bracket: BeginUpdate removes every row at once; rows added
  // inside the bracket reach the view together when EndUpdate closes it.
  void BeginUpdate();
  void ReserveRows(std::size_t count) { (InUpdate ? Pending : Rows).reserve(count); }
  void AddRow(TMessageRow row);
  void EndUpdate();
  bool Updating() const { return InUpdate; }

  const TMessageRow& Row(int row) const { return Rows[static_cast<std::size_t>(MessageOfRow(row))]; }

  // The rows follow order (kept by the window, outliving the model) once it
  // holds one message per row; before that, and without it, in store order.
  void SetOrder(const TListOrder* order) { Order = order; }
  // The order changed: the view reads every row anew.
  void Reorder();
  int MessageOfRow(int row) const { return Ordered() ? Order->MessageOfRow(row) : row; }
  // The row that shows message, -1 when none does.
  int RowOfMessage(int message) const;

private:
  // A load that failed partway keeps the rows it added and builds no order.
  bool Ordered() const { return Order && static_cast<std::size_t>(Order->MessageCount()) == Rows.size(); }

  std::vector<TMessageRow> Rows; // in store order
  const TListOrder* Order = nullptr;
  std::vector<TMessageRow> Pending;
  bool InUpdate = false;
};

} // namespace postvue
