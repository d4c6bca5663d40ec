// Fuzzes the frame file name pattern: the input bytes are a pattern (the
// scenery's AusDateiname plus a suffix). Whatever the validator accepts is
// handed to snprintf, so it is formatted with extreme frame numbers and the
// name must stay within the documented length.
#include "frame_output.h"
#include "fuzz_support.h"

#include <QByteArray>
#include <QString>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

constexpr std::size_t maximumInputBytes = 4096;

void checkName(std::optional<QString> const& name) {
    if (!name)
        return;
    QByteArray const bytes = name->toUtf8();
    if (bytes.size() > FrameOutput::maximumNameBytes || bytes.contains('\0'))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    fuzzsupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    if (size > maximumInputBytes)
        return -1;  // not added to the corpus
    QByteArray const bytes(reinterpret_cast<char const*>(data), static_cast<qsizetype>(size));
    (void)FrameOutput::isValidPattern(bytes);

    // fileName takes text: its own validation sees the UTF-8 form of that
    // text (invalid sequences replaced), and must agree with isValidPattern.
    QString const pattern = QString::fromUtf8(bytes);
    bool const valid = FrameOutput::isValidPattern(pattern.toUtf8());
    for (int number : {INT_MIN, INT_MIN + 1, -1, 0, 7, 123456789, INT_MAX}) {
        std::optional<QString> const name = FrameOutput::fileName(pattern, number);
        if (name && !valid)
            std::abort();
        checkName(name);
    }
    return 0;
}
