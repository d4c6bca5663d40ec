// Fuzzes the scenery file reader: the input bytes are a whole scenery file.
//
// Every input is written to one file in this process's scratch folder and
// read with SceneryDelegate::open on a fresh delegate; nothing is written
// anywhere else.
#include "fuzz_support.h"
#include "scenery_delegate.h"

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QString const& sceneryPath() {
    static QString const path = fuzzsupport::scratchDir() + QStringLiteral("/input.avs");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    fuzzsupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    QFile file(sceneryPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<char const*>(data), static_cast<qint64>(size)) != static_cast<qint64>(size)) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", qPrintable(sceneryPath()));
        std::abort();
    }
    file.close();

    QString logText;
    QTextStream log(&logText);
    SceneryDelegate delegate(log, true);
    delegate.open(sceneryPath());
    return 0;
}
