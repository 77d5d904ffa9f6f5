#include "uMainExport.h"

#include <QFile>

#include "runtime/Exception.h"

QString ExportFileName(const QDate& date) { return "OPC_" + date.toString("yyMMdd") + ".txt"; }

QString QtNameFilter(const QString& fileDialogFilter) {
    QStringList parts = fileDialogFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << QString("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
    return out.join(";;");
}

void WriteExportFile(const QString& path, const std::vector<QStringList>& rows) {
    if (QFile::exists(path) && !QFile::remove(path))
        throw velqor::Exception(QString("Cannot delete file \"%1\"").arg(path).toStdString());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw velqor::Exception(
            QString("Cannot create file \"%1\". %2").arg(path, f.errorString()).toStdString());
    for (const QStringList& row : rows) {
        QByteArray line = (row.join(';') + "\r\n").toLocal8Bit();
        if (f.write(line) != line.size())
            throw velqor::Exception(
                QString("I/O error writing \"%1\". %2").arg(path, f.errorString()).toStdString());
    }
    if (!f.flush())
        throw velqor::Exception(
            QString("I/O error writing \"%1\". %2").arg(path, f.errorString()).toStdString());
    f.close();
}
