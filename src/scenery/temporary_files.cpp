#include "temporary_files.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

// More than the frames a run writes at once (one per thread and format, plus
// those waiting their turn) and the video's two files.
constexpr int slotCount = 128;
constexpr int longestPath = 4096;

enum State : int { Free, Writing, Remembered };

struct Slot {
    std::atomic<int> state{Free};
    char path[longestPath];
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot entries[slotCount];

extern "C" void removeAndEnd(int signal) {
    for (Slot& slot : entries)
        if (slot.state.load() == Remembered)
            ::unlink(slot.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

namespace temporaryfiles {

int remember(QString const& path) {
    QByteArray const bytes = QFile::encodeName(path);
    if (bytes.size() >= longestPath)
        return -1;
    for (int k = 0; k < slotCount; ++k) {
        int expected = Free;
        if (entries[k].state.compare_exchange_strong(expected, Writing)) {
            std::memcpy(entries[k].path, bytes.constData(), std::size_t(bytes.size()) + 1);
            entries[k].state.store(Remembered);
            return k;
        }
    }
    return -1;
}

void forget(int slot) {
    if (slot >= 0 && slot < slotCount)
        entries[slot].state.store(Free);
}

void removeOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = removeAndEnd;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

}  // namespace temporaryfiles
