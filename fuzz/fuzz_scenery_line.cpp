// Fuzzes the handling of one scenery line: the input bytes, read as UTF-8,
// are compacted and applied to a fresh delegate.
#include "fuzz_support.h"
#include "scenery_delegate.h"

#include <QString>
#include <QTextStream>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Long lines find nothing short ones do not, and cost time.
constexpr std::size_t maximumInputBytes = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    fuzzsupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    if (size > maximumInputBytes)
        return -1;  // not added to the corpus
    QString line = QString::fromUtf8(reinterpret_cast<char const*>(data), static_cast<qsizetype>(size));
    SceneryDelegate::compactLine(line);

    // Compacting twice changes nothing more.
    QString again = line;
    SceneryDelegate::compactLine(again);
    if (again != line)
        std::abort();

    QString logText;
    QTextStream log(&logText);
    SceneryDelegate delegate(log, true);
    delegate.processLineLoad(line);
    // A single line adds at most one point, numbered at most maximumPointNumber.
    if (delegate.waypoints.size() > SceneryDelegate::maximumPointNumber + 1 ||
        delegate.controlPoints.size() > SceneryDelegate::maximumPointNumber + 1)
        std::abort();
    return 0;
}
