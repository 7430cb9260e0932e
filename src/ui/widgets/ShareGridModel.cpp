#include "ui/widgets/ShareGridModel.h"

#include <algorithm>

namespace sonabox {

TShareGridModel::TShareGridModel(TDataTableModel &source, QObject *parent)
    : QAbstractTableModel(parent), source_(source) {
  connect(&source_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(&source_, &QAbstractItemModel::modelReset, this, [this] {
    ResetBoxes();
    endResetModel();
  });
  connect(&source_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex &from, const QModelIndex &to) {
            emit dataChanged(index(from.row(), from.column() + 1),
                             index(to.row(), to.column() + 1));
          });
  ResetBoxes();
}

void TShareGridModel::ResetBoxes() { boxes_.assign(source_.rowCount(), TBox::None); }

int TShareGridModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(boxes_.size());
}

int TShareGridModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : source_.columnCount() + 1;
}

QVariant TShareGridModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (index.column() == 0) {
    const TBox box = boxes_[index.row()];
    if (role == Qt::CheckStateRole && box != TBox::None)
      return box == TBox::Ticked ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  return source_.data(source_.index(index.row(), index.column() - 1), role);
}

QVariant TShareGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section == 0)
    return role == Qt::DisplayRole ? QVariant(QStringLiteral("Share")) : QVariant();
  if (orientation == Qt::Horizontal) return source_.headerData(section - 1, orientation, role);
  return QAbstractTableModel::headerData(section, orientation, role);
}

void TShareGridModel::AddCheckBoxes() {
  std::fill(boxes_.begin(), boxes_.end(), TBox::Unticked);
  if (!boxes_.empty())
    emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

bool TShareGridModel::HasCheckBox(int row) const {
  return row >= 0 && row < rowCount() && boxes_[row] != TBox::None;
}

bool TShareGridModel::IsTicked(int row) const {
  return row >= 0 && row < rowCount() && boxes_[row] == TBox::Ticked;
}

void TShareGridModel::SetTicked(int row, bool ticked) {
  if (row < 0 || row >= rowCount()) return;
  boxes_[row] = ticked ? TBox::Ticked : TBox::Unticked;
  emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void TShareGridModel::SetAllTicked(bool ticked) {
  std::fill(boxes_.begin(), boxes_.end(), ticked ? TBox::Ticked : TBox::Unticked);
  if (!boxes_.empty())
    emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

int TShareGridModel::TickedCount() const {
  return static_cast<int>(std::count(boxes_.begin(), boxes_.end(), TBox::Ticked));
}

} // namespace sonabox
