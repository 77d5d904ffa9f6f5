// The item list of the main window as a table model. Each row keeps the texts the list shows
// (so that Export writes exactly what is on screen) and a link to its item; the item's
// FUserData points back at the row. Data changes update only the changed rows' cells and are
// announced as one range per batch, so a large group repaints once per notification.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <array>
#include <memory>
#include <vector>

namespace velqor {
class TVelqorItemData;
}

enum ItemColumn {
    colItemId = 0,
    colAccessPath,
    colActive,
    colValue,
    colTime,
    colQuality,
    kItemColumns
};

// How far a row's value can be trusted.
enum class RowState {
    Current,  // as the server last delivered it
    Stale,    // not current: no connection or no subscription behind it (shown greyed)
    Failed,   // the server refused the item (marked, the reason in the tooltip)
};

struct TItemRow {
    velqor::TVelqorItemData* Item = nullptr;
    uint32_t Handle = 0;  // the item's client handle: tells whether Item still lives
    int Index = -1;       // position in the list
    std::array<QString, kItemColumns> Text;
    RowState State = RowState::Current;
    QString Problem;       // why the row is not current, for the tooltip
    int32_t Quality = -1;  // the quality shown, for its colour (-1: none yet)
};

class ItemListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The role under which a cell hands out its row's item (as a pointer in a quintptr).
    static constexpr int ItemRole = Qt::UserRole + 1;

    explicit ItemListModel(QObject* parent = nullptr);
    ~ItemListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Orders the rows by a column's texts (numbers by their value); a column of -1 ends the
    // ordering (rows then stay as they were). The order is kept when the list is replaced.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    int Count() const { return int(rows_.size()); }
    TItemRow* Row(int index) const { return rows_.at(size_t(index)).get(); }

    // Appends rows for the items (one insertion for all of them); returns the first new row.
    // The rows are empty: the caller fills their texts and then calls RowsFilled.
    TItemRow* AddRows(const std::vector<velqor::TVelqorItemData*>& items);
    // Replaces the whole list in one reset; the fill function sets up each new row's texts.
    template <class Fill>
    void Reset(const std::vector<velqor::TVelqorItemData*>& items, Fill fill) {
        beginResetModel();
        rows_.clear();
        Append(items);
        for (auto& r : rows_) fill(*r);
        SortRows();
        endResetModel();
    }
    void Clear();
    void RemoveRow(TItemRow* row);

    // Announces that every cell of a row changed.
    void RowChanged(const TItemRow* row);
    // Announces that the texts of rows [first, last] changed (value, time and quality only
    // when valuesOnly).
    void RowsChanged(int first, int last, bool valuesOnly);

    // The texts of every row, in list order.
    std::vector<QStringList> Texts() const;

  private:
    void Append(const std::vector<velqor::TVelqorItemData*>& items);
    // Sorts rows_ by the kept column and renumbers them (no announcement).
    void SortRows();
    std::vector<std::unique_ptr<TItemRow>> rows_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};
