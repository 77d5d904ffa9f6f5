#include "DataLog.h"

#include <QFileInfo>
#include <string>

#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "contract/VelqorTexts.h"

using namespace velqor;

void DataLog::Start(const QString& path, const TVelqorGroup& group) {
    Stop();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception("Cannot write the log file " + path.toStdString() + ": " +
                        file_.errorString().toStdString());
    groupID_ = group.ID();
    rows_ = 0;
    failure_.clear();
    const std::string header = DataChangeCsvHeader();
    if (file_.write(header.data(), qint64(header.size())) != qint64(header.size()) ||
        !file_.flush()) {
        const QString why = file_.errorString();
        file_.close();
        throw Exception("Cannot write the log file " + path.toStdString() + ": " +
                        why.toStdString());
    }
}

void DataLog::Stop() {
    if (file_.isOpen()) file_.close();
}

void DataLog::Record(const TVelqorItemList& items) {
    if (!file_.isOpen()) return;
    const double now = Now();
    std::string rows;
    int64_t count = 0;
    for (TVelqorItemData* d : items) {
        auto* item = static_cast<TVelqorItem*>(d);
        TVelqorGroup* g = item->Group();
        if (!g || g->ID() != groupID_) continue;
        AppendDataChangeCsvRow(rows, now, *item, dates_);
        ++count;
    }
    if (count == 0) return;
    if (file_.write(rows.data(), qint64(rows.size())) != qint64(rows.size()) || !file_.flush()) {
        failure_ = file_.errorString();
        file_.close();
        return;
    }
    rows_ += count;
}

QString DataLog::StatusText() const {
    if (Active())
        return QString("Logging to %1: %2 rows").arg(QFileInfo(Path()).fileName()).arg(rows_);
    if (!failure_.isEmpty()) return "Log stopped: " + failure_;
    return {};
}
