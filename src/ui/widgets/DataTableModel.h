#pragma once
// A read-only view model over a TDataTable: one model row per visible table
// row, in the table's order, with the columns chosen by the window. Grids bound
// to a table (the open playlist, the playlist being shared) show it.
#include "core/playlists/DataTable.h"

#include <QAbstractTableModel>

#include <functional>
#include <string>
#include <vector>

namespace sonabox {

class TDataTableModel : public QAbstractTableModel {
  Q_OBJECT
public:
  struct Column {
    std::string Field; // the table column shown
    QString Header;
  };

  // Refreshes itself whenever the table reports a change.
  TDataTableModel(TDataTable &table, std::vector<Column> columns, QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  TDataTable &Table() const { return table_; }
  void Refresh();

  // Lets a view drag rows to another place: a drop is told by RowDropped and
  // changes nothing here; whoever owns the table moves the row.
  void SetRowsMovable(bool movable) { movable_ = movable; }
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  Qt::DropActions supportedDropActions() const override;
  QStringList mimeTypes() const override;
  QMimeData *mimeData(const QModelIndexList &indexes) const override;
  bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                    const QModelIndex &parent) override;

  // Rows that `marked` holds (by 1-based record number) show a marker (a
  // "▶" picture) before their first column; MarkerChanged when that may
  // have changed.
  void SetMarker(std::function<bool(int recNo)> marked) { marked_ = std::move(marked); }
  void MarkerChanged();

signals:
  // The recNo-th row (1-based) was dropped so that it stands at the place
  // `to` among the rows.
  void RowDropped(int recNo, int to);

private:
  TDataTable &table_;
  std::vector<Column> columns_;
  bool movable_ = false;
  std::function<bool(int recNo)> marked_;
};

} // namespace sonabox
