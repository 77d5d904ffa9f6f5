// The program's memory of the last server: section "SERVER", key "LAST" of an INI file named
// after the program. The file lives beside the program; where that folder is not writable (an
// installed program) the same file name in the user's configuration folder is used instead and
// read first.
#pragma once

#include <QString>
#include <optional>

class IniMemory {
  public:
    // programDir/baseName.ini beside the program, configDir/baseName.ini as the fallback.
    // writableOverride decides the folder's writability instead of the file system (tests run
    // with rights that ignore folder permissions).
    IniMemory(QString programDir, QString baseName, QString configDir,
              std::optional<bool> writableOverride = std::nullopt);
    // The files of the running program (QStandardPaths::AppConfigLocation as the fallback).
    static IniMemory ForApplication();

    // The remembered server name, or "" when none is stored.
    QString ReadLast() const;
    void WriteLast(const QString& serverName) const;

    // The file that is written.
    QString WritePath() const;
    bool BesideProgram() const { return besideWritable_; }

  private:
    QString beside_, config_;
    bool besideWritable_;
};
