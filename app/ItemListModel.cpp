#include "ItemListModel.h"

#include <QApplication>
#include <QBrush>
#include <QCollator>
#include <QStyle>
#include <algorithm>

#include "QualityText.h"
#include "contract/VelqorItemData.h"

namespace {
const char* const kColumns[kItemColumns] = {"ItemId", "Accesspath", "Active",
                                            "Value",  "Time",       "Quality"};
}

ItemListModel::ItemListModel(QObject* parent) : QAbstractTableModel(parent) {}
ItemListModel::~ItemListModel() = default;

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kItemColumns;
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size()) || index.column() >= kItemColumns)
        return {};
    const TItemRow& r = *rows_[size_t(index.row())];
    if (role == Qt::DisplayRole) return r.Text[size_t(index.column())];
    if (role == ItemRole) return QVariant::fromValue(quintptr(r.Item));
    if (role == Qt::ToolTipRole) {
        // Worded when asked for: the item may have gone with its row still shown.
        if (velqor::FindItemByClientHandle(r.Handle) == r.Item)
            return ItemToolTip(*r.Item, r.Problem);
        return r.Problem.isEmpty() ? QVariant() : QVariant(r.Problem);
    }
    if (role == Qt::ForegroundRole && r.State != RowState::Current)
        return QBrush(r.State == RowState::Failed ? QColor(0xB0, 0x20, 0x20) : QColor(Qt::gray));
    if (role == Qt::ForegroundRole && index.column() == colQuality && r.Quality >= 0)
        return QBrush(QualityColour(r.Quality));
    if (role == Qt::DecorationRole && index.column() == colItemId && r.State == RowState::Failed)
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return {};
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kItemColumns)
        return QString(kColumns[section]);
    return {};
}

void ItemListModel::SortRows() {
    if (sortColumn_ < 0 || sortColumn_ >= kItemColumns) return;
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const auto c = size_t(sortColumn_);
    // Each text is read as a number once, not at every comparison: ten thousand rows take some
    // hundred thousand comparisons.
    struct Keyed {
        std::unique_ptr<TItemRow> row;
        double number = 0;
        bool isNumber = false;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(rows_.size());
    for (auto& r : rows_) {
        Keyed k{std::move(r)};
        k.number = k.row->Text[c].toDouble(&k.isNumber);
        keyed.push_back(std::move(k));
    }
    auto less = [&](const Keyed& a, const Keyed& b) {
        if (a.isNumber && b.isNumber) return a.number < b.number;
        if (a.isNumber != b.isNumber) return a.isNumber;  // numbers before texts
        return collator.compare(a.row->Text[c], b.row->Text[c]) < 0;
    };
    if (sortOrder_ == Qt::AscendingOrder)
        std::stable_sort(keyed.begin(), keyed.end(), less);
    else
        std::stable_sort(keyed.begin(), keyed.end(),
                         [&](const Keyed& a, const Keyed& b) { return less(b, a); });
    for (size_t k = 0; k < rows_.size(); ++k) {
        rows_[k] = std::move(keyed[k].row);
        rows_[k]->Index = int(k);
    }
}

void ItemListModel::sort(int column, Qt::SortOrder order) {
    sortColumn_ = column;
    sortOrder_ = order;
    if (column < 0 || rows_.empty()) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<const TItemRow*> rowAt;
    for (const QModelIndex& i : before) rowAt.push_back(rows_[size_t(i.row())].get());
    SortRows();
    QModelIndexList after;
    for (size_t k = 0; k < rowAt.size(); ++k)
        after << index(rowAt[k]->Index, before[int(k)].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ItemListModel::Append(const std::vector<velqor::TVelqorItemData*>& items) {
    rows_.reserve(rows_.size() + items.size());
    for (auto* item : items) {
        auto r = std::make_unique<TItemRow>();
        r->Item = item;
        r->Handle = item->ClientHandle();
        r->Index = int(rows_.size());
        rows_.push_back(std::move(r));
    }
}

TItemRow* ItemListModel::AddRows(const std::vector<velqor::TVelqorItemData*>& items) {
    if (items.empty()) return nullptr;
    int first = int(rows_.size());
    beginInsertRows(QModelIndex(), first, first + int(items.size()) - 1);
    Append(items);
    endInsertRows();
    return rows_[size_t(first)].get();
}

void ItemListModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void ItemListModel::RemoveRow(TItemRow* row) {
    int i = row->Index;
    if (i < 0 || i >= int(rows_.size()) || rows_[size_t(i)].get() != row) return;
    beginRemoveRows(QModelIndex(), i, i);
    rows_.erase(rows_.begin() + i);
    for (size_t k = size_t(i); k < rows_.size(); ++k) rows_[k]->Index = int(k);
    endRemoveRows();
}

void ItemListModel::RowChanged(const TItemRow* row) { RowsChanged(row->Index, row->Index, false); }

void ItemListModel::RowsChanged(int first, int last, bool valuesOnly) {
    if (first < 0 || last < first || last >= int(rows_.size())) return;
    emit dataChanged(index(first, valuesOnly ? colValue : colItemId), index(last, colQuality),
                     {Qt::DisplayRole});
}

std::vector<QStringList> ItemListModel::Texts() const {
    std::vector<QStringList> out;
    out.reserve(rows_.size());
    for (const auto& r : rows_) out.emplace_back(r->Text.begin(), r->Text.end());
    return out;
}
