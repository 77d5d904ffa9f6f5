// What the window remembers between runs, in the program's INI file beside the server it
// last used: the layout (geometry, splitter, the item list's column widths and sort order),
// the last ten servers connected to, the last browse position on each server, and each
// server's own connection settings.
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

// How to reach one XML-DA server over HTTPS.
struct ConnectionOptions {
    QString CAFile;              // extra trusted authorities (PEM), "" for none
    bool AcceptBadCert = false;  // accept a certificate out of its dates or for another host
    bool operator==(const ConnectionOptions&) const = default;
};

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

    // The connection settings of a server (defaults when never stored).
    ConnectionOptions Connection(const QString& server) const;
    void SaveConnection(const QString& server, const ConnectionOptions& options) const;

    // Any other remembered setting, by its "Section/Key".
    QVariant Value(const QString& key) const;
    void SetValue(const QString& key, const QVariant& value) const;

    const QString& Path() const { return path_; }

  private:
    QString path_;
};
