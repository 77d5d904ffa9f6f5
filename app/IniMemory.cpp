#include "IniMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const char* const kKey = "SERVER/LAST";

bool Writable(const QString& dir, const QString& file) {
    QFileInfo d(dir);
    if (!d.isDir() || !d.isWritable()) return false;
    QFileInfo f(file);
    return !f.exists() || f.isWritable();
}

QString Read(const QString& file, bool* found) {
    *found = false;
    if (!QFileInfo::exists(file)) return {};
    QSettings ini(file, QSettings::IniFormat);
    QVariant v = ini.value(kKey);
    *found = v.isValid();
    return v.toString();
}
}  // namespace

IniMemory::IniMemory(QString programDir, QString baseName, QString configDir,
                     std::optional<bool> writableOverride)
    : beside_(QDir(programDir).filePath(baseName + ".ini")),
      config_(QDir(configDir).filePath(baseName + ".ini")),
      besideWritable_(writableOverride ? *writableOverride : Writable(programDir, beside_)) {}

IniMemory IniMemory::ForApplication() {
    QFileInfo exe(QCoreApplication::applicationFilePath());
    return IniMemory(exe.absolutePath(), exe.completeBaseName(),
                     QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

QString IniMemory::WritePath() const { return besideWritable_ ? beside_ : config_; }

QString IniMemory::ReadLast() const {
    bool found = false;
    if (!besideWritable_) {
        QString v = Read(config_, &found);
        if (found) return v;
    }
    return Read(beside_, &found);
}

void IniMemory::WriteLast(const QString& serverName) const {
    QString path = WritePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(kKey, serverName);
    ini.sync();
}
