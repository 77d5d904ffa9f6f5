#include "ColumnFit.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "ItemListModel.h"

TColumnFitter::TColumnFitter(QTableView* view) : QObject(view), view_(view) {
    soon_ = new QTimer(this);
    soon_->setSingleShot(true);
    soon_->setInterval(0);
    connect(soon_, &QTimer::timeout, this, &TColumnFitter::Fit);
    QHeaderView* header = view->horizontalHeader();
    header->setStretchLastSection(false);
    for (int c = 0; c < kItemColumns; ++c)
        header->setSectionResizeMode(c, QHeaderView::Interactive);
    view->viewport()->installEventFilter(this);
    // Sized with the mouse (a restored layout or the fit itself is not the user's choice).
    connect(header, &QHeaderView::sectionResized, this, [this](int c) {
        if (!fitting_ && (QApplication::mouseButtons() & Qt::LeftButton)) {
            userSized_.insert(c);
            soon_->start();
        }
    });
    QAbstractItemModel* model = view->model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, soon_, qOverload<>(&QTimer::start));
    connect(model, &QAbstractItemModel::modelReset, soon_, qOverload<>(&QTimer::start));
}

bool TColumnFitter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) soon_->start();
    return QObject::eventFilter(watched, event);
}

void TColumnFitter::Fit() {
    QHeaderView* header = view_->horizontalHeader();
    fitting_ = true;
    struct Done {
        bool& fitting;
        ~Done() { fitting = false; }
    } done{fitting_};
    auto size = [&](int c, int w) {
        if (!userSized_.contains(c)) header->resizeSection(c, w);
        return header->sectionSize(c);
    };
    // What a column needs: its header, and the widest of the cells in view.
    const QAbstractItemView* cells = view_;  // the table's hint, through the public base
    // A header needs its text and margins; the sort arrow only on the column sorted by.
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    auto headerNeed = [&](int c) {
        if (c == header->sortIndicatorSection()) return header->sectionSizeHint(c);
        const QString text = view_->model()->headerData(c, Qt::Horizontal).toString();
        return header->fontMetrics().horizontalAdvance(text) + 2 * margin;
    };
    auto need = [&](int c) { return std::max(headerNeed(c), cells->sizeHintForColumn(c)); };
    int fixed = 0;
    for (int c : {colAccessPath, colActive, colTime, colQuality}) {
        fixed += size(c, need(c));
    }
    // Item ID and value share the rest: each its need when there is room (the spare going one
    // third to the ID, two thirds to the value), else the ID first.
    int room = std::max(0, view_->viewport()->width() - fixed);
    if (userSized_.contains(colItemId)) room = std::max(0, room - header->sectionSize(colItemId));
    if (userSized_.contains(colValue)) room = std::max(0, room - header->sectionSize(colValue));
    const int id = need(colItemId), value = std::max(need(colValue), header->minimumSectionSize());
    int idWidth, valueWidth;
    if (room >= id + value) {
        const int spare = room - id - value;
        idWidth = id + spare / 3;
        valueWidth = room - idWidth;
    } else {
        // Short of room: the ID, which names the row, first (up to 55 %), the value the rest.
        idWidth = std::max(header->minimumSectionSize(), std::min(id, room * 55 / 100));
        valueWidth = std::max(header->minimumSectionSize(), room - idWidth);
    }
    if (userSized_.contains(colItemId)) valueWidth = std::max(valueWidth, room);
    if (userSized_.contains(colValue)) idWidth = std::max(idWidth, room);
    size(colItemId, idWidth);
    size(colValue, valueWidth);
}
