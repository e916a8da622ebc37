// The message list's rows: plain texts built once per load, read in O(1).
#pragma once

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

  const TMessageRow& Row(int row) const { return Rows[static_cast<std::size_t>(row)]; }

private:
  std::vector<TMessageRow> Rows;
  std::vector<TMessageRow> Pending;
  bool InUpdate = false;
};

} // namespace postvue
