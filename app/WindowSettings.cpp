#include "WindowSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>
#include <utility>
#include <vector>

namespace {
const char* const kGeometry = "Window/Geometry";
const char* const kState = "Window/State";  // docked panes such as the trend
const char* const kSplitter = "Window/Splitter";
const char* const kColumns = "Window/ItemColumns";
const char* const kRecent = "Servers/Recent";
const char* const kPositions = "BrowsePositions";
const char* const kConnections = "Connections";

// One stored browse position.
struct Position {
    QString server, itemPath, itemName, name;
};

std::vector<Position> ReadPositions(QSettings& s) {
    std::vector<Position> out;
    const int n = s.beginReadArray(kPositions);
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        out.push_back({s.value("Server").toString(), s.value("ItemPath").toString(),
                       s.value("ItemName").toString(), s.value("Name").toString()});
    }
    s.endArray();
    return out;
}

std::vector<std::pair<QString, ConnectionOptions>> ReadConnections(QSettings& s) {
    std::vector<std::pair<QString, ConnectionOptions>> out;
    const int n = s.beginReadArray(kConnections);
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        out.push_back({s.value("Server").toString(),
                       {s.value("CAFile").toString(), s.value("AcceptBadCert").toBool()}});
    }
    s.endArray();
    return out;
}

}  // namespace

void WindowSettings::SaveLayout(const QMainWindow& window, const QSplitter& splitter,
                                const QHeaderView& columns) const {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings s(path_, QSettings::IniFormat);
    s.setValue(kGeometry, window.saveGeometry());
    s.setValue(kState, window.saveState());
    s.setValue(kSplitter, splitter.saveState());
    s.setValue(kColumns, columns.saveState());
}

void WindowSettings::RestoreLayout(QMainWindow& window, QSplitter& splitter,
                                   QHeaderView& columns) const {
    QSettings s(path_, QSettings::IniFormat);
    if (s.contains(kGeometry)) window.restoreGeometry(s.value(kGeometry).toByteArray());
    if (s.contains(kState)) window.restoreState(s.value(kState).toByteArray());
    if (s.contains(kSplitter)) splitter.restoreState(s.value(kSplitter).toByteArray());
    if (s.contains(kColumns)) columns.restoreState(s.value(kColumns).toByteArray());
}

QStringList WindowSettings::RecentServers() const {
    QSettings s(path_, QSettings::IniFormat);
    QStringList list = s.value(kRecent).toStringList();
    list.removeAll(QString());
    list.removeDuplicates();
    return list.mid(0, kRecentServers);
}

void WindowSettings::AddRecentServer(const QString& server) const {
    const QString name = server.trimmed();
    if (name.isEmpty()) return;
    QStringList list = RecentServers();
    list.removeAll(name);
    list.prepend(name);
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings s(path_, QSettings::IniFormat);
    s.setValue(kRecent, list.mid(0, kRecentServers));
}

std::optional<velqor::TVelqorBrowseItem> WindowSettings::BrowsePosition(
    const QString& server) const {
    QSettings s(path_, QSettings::IniFormat);
    for (const Position& p : ReadPositions(s)) {
        if (p.server != server) continue;
        velqor::TVelqorBrowseItem at;
        at.ItemPath = p.itemPath.toStdString();
        at.ItemName = p.itemName.toStdString();
        at.Name = p.name.toStdString();
        at.IsBranch = true;
        return at;
    }
    return std::nullopt;
}

void WindowSettings::SaveBrowsePosition(const QString& server,
                                        const velqor::TVelqorBrowseItem& at) const {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings s(path_, QSettings::IniFormat);
    std::vector<Position> all = ReadPositions(s);
    Position mine{server, QString::fromStdString(at.ItemPath), QString::fromStdString(at.ItemName),
                  QString::fromStdString(at.Name)};
    bool replaced = false;
    for (Position& p : all)
        if (p.server == server) {
            p = mine;
            replaced = true;
        }
    if (!replaced) all.push_back(mine);
    s.remove(kPositions);
    s.beginWriteArray(kPositions, int(all.size()));
    for (int i = 0; i < int(all.size()); ++i) {
        s.setArrayIndex(i);
        s.setValue("Server", all[size_t(i)].server);
        s.setValue("ItemPath", all[size_t(i)].itemPath);
        s.setValue("ItemName", all[size_t(i)].itemName);
        s.setValue("Name", all[size_t(i)].name);
    }
    s.endArray();
}

ConnectionOptions WindowSettings::Connection(const QString& server) const {
    QSettings s(path_, QSettings::IniFormat);
    for (const auto& [name, options] : ReadConnections(s))
        if (name == server.trimmed()) return options;
    return {};
}

void WindowSettings::SaveConnection(const QString& server, const ConnectionOptions& options) const {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings s(path_, QSettings::IniFormat);
    auto all = ReadConnections(s);
    std::erase_if(all, [&](const auto& c) { return c.first == server.trimmed(); });
    if (!(options == ConnectionOptions{})) all.push_back({server.trimmed(), options});
    s.remove(kConnections);
    s.beginWriteArray(kConnections, int(all.size()));
    for (int i = 0; i < int(all.size()); ++i) {
        s.setArrayIndex(i);
        s.setValue("Server", all[size_t(i)].first);
        s.setValue("CAFile", all[size_t(i)].second.CAFile);
        s.setValue("AcceptBadCert", all[size_t(i)].second.AcceptBadCert);
    }
    s.endArray();
}

QVariant WindowSettings::Value(const QString& key) const {
    return QSettings(path_, QSettings::IniFormat).value(key);
}

void WindowSettings::SetValue(const QString& key, const QVariant& value) const {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings(path_, QSettings::IniFormat).setValue(key, value);
}
