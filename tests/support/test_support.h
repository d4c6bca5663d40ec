// Helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <memory>
#include <new>
#include <ostream>

// Lets GoogleTest print QStrings readably in failure messages.
inline void PrintTo(QString const& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace testsupport {

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
    // The largest resident set of any child this test process has waited
    // for, in KiB: the program's own peak when it is the test's only child
    // (each child starts from its own size, not the test's).
    long long peakKiB = 0;
};

// Runs a program (AVRender unless named) with the arguments in the given
// working folder and environment.
ProcessResult runProgram(QStringList const& arguments, QString const& workingDir = QString(), int timeoutMs = 120000,
                         QString const& program = QStringLiteral(AVRENDER_EXE),
                         QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment());

// Constructs a T with make() at every address within 64 bytes that T's own
// alignment allows (so at 8 modulo 16 and 16 modulo 32 where alignof(T) is 8)
// and runs use(object, offset) on it: code that assumes more alignment than
// the type declares fails here rather than where the heap happens to put it.
template <class T, class Make, class Use>
void atEveryAlignment(Make make, Use use) {
    constexpr std::align_val_t line{64};
    struct Release {
        void operator()(void* storage) const { ::operator delete(storage, line); }
    };
    for (std::size_t offset = 0; offset < std::size_t(line); offset += alignof(T)) {
        std::unique_ptr<void, Release> storage(::operator new(sizeof(T) + std::size_t(line), line));
        T* const object = new (static_cast<std::byte*>(storage.get()) + offset) T(make());
        use(*object, offset);
        object->~T();
    }
}

}  // namespace testsupport
