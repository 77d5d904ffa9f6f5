// What the window remembers between runs, in the program's INI file beside the server it
// last used: the layout (geometry, splitter, the item list's column widths and sort order),
// the last ten servers connected to, and the last browse position on each server.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

#include "contract/VelqorItemData.h"

class QHeaderView;
class QMainWindow;
class QSplitter;

class WindowSettings {
  public:
    static constexpr int kRecentServers = 10;

    explicit WindowSettings(QString iniPath) : path_(std::move(iniPath)) {}

    void SaveLayout(const QMainWindow& window, const QSplitter& splitter,
                    const QHeaderView& columns) const;
    // A part never stored keeps its current state.
    void RestoreLayout(QMainWindow& window, QSplitter& splitter, QHeaderView& columns) const;

    // Most recent first, at most kRecentServers, no name twice.
    QStringList RecentServers() const;
    void AddRecentServer(const QString& server) const;

    // The browse position last left on a server (its item path and item name), if any.
    std::optional<velqor::TVelqorBrowseItem> BrowsePosition(const QString& server) const;
    void SaveBrowsePosition(const QString& server, const velqor::TVelqorBrowseItem& at) const;

    // Any other remembered setting, by its "Section/Key".
    QVariant Value(const QString& key) const;
    void SetValue(const QString& key, const QVariant& value) const;

    const QString& Path() const { return path_; }

  private:
    QString path_;
};
