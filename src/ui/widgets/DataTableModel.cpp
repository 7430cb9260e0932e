#include "ui/widgets/DataTableModel.h"

#include <QImage>
#include <QMimeData>
#include <QPainter>

#include <algorithm>

namespace sonabox {

namespace {

// A dragged row: its 1-based number among the visible rows, in decimal.
const char kRowType[] = "application/x-sonabox-row";

// The marker: an amber triangle pointing right, drawn once.
const QImage &Marker() {
  static const QImage marker = [] {
    QImage picture(10, 10, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(230, 140, 20));
    const QPointF corners[] = {{1, 0}, {10, 5}, {1, 10}};
    painter.drawPolygon(corners, 3);
    return picture;
  }();
  return marker;
}

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
  if (index.isValid() && index.column() == 0 && marked_ &&
      (role == Qt::DecorationRole || role == Qt::AccessibleDescriptionRole) &&
      marked_(index.row() + 1))
    return role == Qt::DecorationRole ? QVariant(Marker()) : QVariant(QString("Playing"));
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

void TDataTableModel::MarkerChanged() {
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
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
