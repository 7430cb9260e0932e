#pragma once
// The model of the share grid: a check-box column "Share" in front of the
// columns of a table model. The check boxes are cells of the grid, not fields
// of the table: the model holds them. After the table changes its rows, no
// row has a check box until AddCheckBoxes gives every row one.
#include "ui/widgets/DataTableModel.h"

#include <QAbstractTableModel>

#include <vector>

namespace sonabox {

class TShareGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TShareGridModel(TDataTableModel &source, QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Rows are counted from 0 here (the grid's first data row).
  void AddCheckBoxes(); // every row gets a box, not ticked
  bool HasCheckBox(int row) const;
  bool IsTicked(int row) const;         // false without a box
  void SetTicked(int row, bool ticked); // gives the row a box when it has none
  void SetAllTicked(bool ticked);       // every row, in one change of the view
  int TickedCount() const;

private:
  enum class TBox : char { None, Unticked, Ticked };
  void ResetBoxes();

  TDataTableModel &source_;
  std::vector<TBox> boxes_;
};

} // namespace sonabox
