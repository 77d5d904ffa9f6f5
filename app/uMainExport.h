// Export of the item list to a text file: one line per row, the six columns joined by ";",
// nothing quoted, CR LF line ends, 8-bit text in the system's encoding.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

// The save dialog's file-dialog filter: description|pattern pairs joined by "|".
inline constexpr const char* kExportFilter = "Текстовые файлы|*.txt";

// "OPC_yymmdd.txt" for the given date.
QString ExportFileName(const QDate& date);
// A file-dialog filter ("description|pattern|...") in the form a Qt file dialog reads:
// "description (pattern)" per entry, joined by ";;".
QString QtNameFilter(const QString& fileDialogFilter);
// Replaces the file at path with the rows; raises velqor::Exception on an input/output error
// (a partly written file stays on disk).
void WriteExportFile(const QString& path, const std::vector<QStringList>& rows);
