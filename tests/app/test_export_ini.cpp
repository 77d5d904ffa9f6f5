// Export file writing and the INI memory of the last server.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "AppTestSupport.h"
#include "IniMemory.h"
#include "runtime/Exception.h"
#include "uMainExport.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

TEST(Export, FileNameFromDate) {
    EXPECT_EQ(ExportFileName(QDate(2026, 12, 6)), "OPC_261206.txt");
    EXPECT_EQ(ExportFileName(QDate(2001, 2, 3)), "OPC_010203.txt");
}

TEST(Export, FilterForTheFileDialog) {
    EXPECT_EQ(QtNameFilter(kExportFilter), QString::fromUtf8("Текстовые файлы (*.txt)"));
    EXPECT_EQ(QtNameFilter("A|*.a;*.b|B|*.c"), "A (*.a *.b);;B (*.c)");
}

TEST(Export, RowsBecomeSemicolonLinesWithCrLf) {
    QTemporaryDir dir;
    QString path = dir.filePath("out.txt");
    std::vector<QStringList> rows = {
        {"Random.Int4", "", "X", "17", "10:11:12", "good"},
        {"Array", "path", " ", "1;2;", "-", "bad"},
        {"Fresh", "", "X", "-", "-", "-"},
    };
    WriteExportFile(path, rows);
    EXPECT_EQ(ReadAll(path),
              "Random.Int4;;X;17;10:11:12;good\r\n"
              "Array;path; ;1;2;;-;bad\r\n"
              "Fresh;;X;-;-;-\r\n");
}

TEST(Export, ReplacesAnExistingFileAndWritesEmptyList) {
    QTemporaryDir dir;
    QString path = dir.filePath("out.txt");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("a much longer old content that must disappear\r\n");
    }
    WriteExportFile(path, {});
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(ReadAll(path), "");
}

TEST(Export, UncreatableFileRaises) {
    QTemporaryDir dir;
    QString path = dir.filePath("missing-folder/out.txt");
    EXPECT_THROW(WriteExportFile(path, {{"a", "b", "c", "d", "e", "f"}}), velqor::Exception);
}

TEST(IniMemory, MissingFileGivesEmptyNameAndWriteReadsBack) {
    QTemporaryDir prog, conf;
    IniMemory ini(prog.path(), "tagscope", conf.path());
    EXPECT_TRUE(ini.BesideProgram());
    EXPECT_EQ(ini.ReadLast(), "");
    ini.WriteLast("http://127.0.0.1:8080/OpcXmlDa");
    EXPECT_EQ(ini.WritePath(), QDir(prog.path()).filePath("tagscope.ini"));
    EXPECT_EQ(IniMemory(prog.path(), "tagscope", conf.path()).ReadLast(),
              "http://127.0.0.1:8080/OpcXmlDa");
    QByteArray text = ReadAll(ini.WritePath());
    EXPECT_TRUE(text.contains("[SERVER]")) << text.toStdString();
    EXPECT_TRUE(text.contains("LAST=")) << text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QDir(conf.path()).filePath("tagscope.ini")));
}

TEST(IniMemory, ReadOnlyProgramFolderUsesConfigFolderAndReadsItFirst) {
    QTemporaryDir prog, conf;
    QString confDir = QDir(conf.path()).filePath("tagscope");  // not yet created
    IniMemory(prog.path(), "tagscope", confDir).WriteLast("Shipped.Server.1");
    IniMemory ini(prog.path(), "tagscope", confDir, /*writableOverride=*/false);
    EXPECT_FALSE(ini.BesideProgram());
    EXPECT_EQ(ini.ReadLast(), "Shipped.Server.1") << "falls back to the file beside the program";
    ini.WriteLast("User.Server.2");
    EXPECT_EQ(ini.WritePath(), QDir(confDir).filePath("tagscope.ini"));
    EXPECT_EQ(ini.ReadLast(), "User.Server.2");
    EXPECT_EQ(IniMemory(prog.path(), "tagscope", confDir).ReadLast(), "Shipped.Server.1")
        << "the file beside the program is left alone";
}

TEST(IniMemory, MissingProgramFolderCountsAsNotWritable) {
    QTemporaryDir conf;
    IniMemory ini("/nonexistent/tagscope-bin", "tagscope", conf.path());
    EXPECT_FALSE(ini.BesideProgram());
    ini.WriteLast("X.Y.1");
    EXPECT_EQ(ini.ReadLast(), "X.Y.1");
}

}  // namespace
