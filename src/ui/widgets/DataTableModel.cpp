#include "ui/widgets/DataTableModel.h"

namespace sonabox {

TDataTableModel::TDataTableModel(TDataTable &table, std::vector<Column> columns, QObject *parent)
    : QAbstractTableModel(parent), table_(table), columns_(std::move(columns)) {
  table_.SetOnChange([this] { Refresh(); });
}

int TDataTableModel::rowCount(const QModelIndex &parent) const {
  if (parent.isValid() || !table_.Active()) return 0;
  return table_.RecordCount();
}

int TDataTableModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDataTableModel::data(const QModelIndex &index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.column() >= columnCount()) return {};
  return QString::fromStdString(
      table_.DisplayText(index.row() + 1, columns_[index.column()].Field));
}

QVariant TDataTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
      section >= columnCount())
    return {};
  return columns_[section].Header;
}

void TDataTableModel::Refresh() {
  beginResetModel();
  endResetModel();
}

} // namespace sonabox
