#include "ui/widgets/DataTableModel.h"

#include <QMimeData>

#include <algorithm>

namespace sonabox {

namespace {

// A dragged row: its 1-based number among the visible rows, in decimal.
const char kRowType[] = "application/x-sonabox-row";

} // namespace

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

// A row is dropped on another row (it takes that row's place) or between two.
Qt::ItemFlags TDataTableModel::flags(const QModelIndex &index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (!movable_) return flags;
  flags |= Qt::ItemIsDropEnabled;
  if (index.isValid()) flags |= Qt::ItemIsDragEnabled;
  return flags;
}

Qt::DropActions TDataTableModel::supportedDropActions() const {
  return movable_ ? Qt::MoveAction : Qt::IgnoreAction;
}

QStringList TDataTableModel::mimeTypes() const { return {kRowType}; }

QMimeData *TDataTableModel::mimeData(const QModelIndexList &indexes) const {
  if (!movable_ || indexes.isEmpty()) return nullptr;
  auto *data = new QMimeData;
  data->setData(kRowType, QByteArray::number(indexes.first().row() + 1));
  return data;
}

bool TDataTableModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int,
                                   const QModelIndex &parent) {
  if (!movable_ || action != Qt::MoveAction || !data || !data->hasFormat(kRowType)) return false;
  bool ok = false;
  const int recNo = data->data(kRowType).toInt(&ok);
  const int rows = rowCount();
  if (!ok || recNo < 1 || recNo > rows) return false;
  // Dropped on a row: that row's place. Between rows: `row` is the 0-based
  // row it lands before, counted with the dragged row still in its place;
  // -1 below the last row.
  int to = rows;
  if (parent.isValid())
    to = parent.row() + 1;
  else if (row >= 0)
    to = row < recNo ? row + 1 : row;
  to = std::clamp(to, 1, rows);
  if (to != recNo) emit RowDropped(recNo, to);
  return true;
}

} // namespace sonabox
