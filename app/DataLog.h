// "Log Data Changes...": every data change of one group written to a CSV file until stopped,
// in the rows and escaping of `tagscope-cli watch --format csv` (the toolkit's one CSV row).
// The file is flushed after each notification, so that it can be read while it grows.
#pragma once

#include <QFile>
#include <QString>
#include <cstdint>

#include "contract/VelqorTexts.h"
#include "model/Velqor.h"

class DataLog {
  public:
    ~DataLog() { Stop(); }

    // Starts a new log of the group's changes in path (an existing file is replaced), header
    // line first. Raises with the file's error when it cannot be written.
    void Start(const QString& path, const velqor::TVelqorGroup& group);
    void Stop();
    bool Active() const { return file_.isOpen(); }

    // Writes one row per item of the logged group in the list. A failed write stops the log;
    // Failure() then says why.
    void Record(const velqor::TVelqorItemList& items);

    int64_t Rows() const { return rows_; }
    QString Path() const { return file_.fileName(); }
    QString Failure() const { return failure_; }
    // "Logging to FILE: N rows", "Log stopped: WHY", or "" when not logging.
    QString StatusText() const;

  private:
    QFile file_;
    int32_t groupID_ = -1;  // the logged group's running ID: never reused by another group
    int64_t rows_ = 0;
    velqor::TDateTexts dates_;
    QString failure_;
};
