// Helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

// Lets GoogleTest print QStrings readably in failure messages.
inline void PrintTo(QString const& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace testsupport {

// Folder of the checked-in test data (tests/data).
QString dataDir();

// A fresh temporary folder below the build tree, removed when the object dies.
std::unique_ptr<QTemporaryDir> makeTempDir();

// Writes bytes to a file, creating it; fails the current test on error.
void writeFile(QString const& path, QByteArray const& bytes);

// File name -> SHA-256 of the contents, for every file of a folder.
QMap<QString, QByteArray> folderContents(QString const& folder);

// Writes the "Settings/<key>" value into the (test-local) settings store, or
// removes it when value is empty.
void setSetting(QString const& key, QString const& value);

struct ProcessResult {
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs the AVRender program with the arguments in the given working folder.
ProcessResult runProgram(QStringList const& arguments, QString const& workingDir = QString(),
                         int timeoutMs = 120000);

}  // namespace testsupport
