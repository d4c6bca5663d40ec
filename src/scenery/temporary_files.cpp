#include "temporary_files.h"

#include <QFile>
#include <QTemporaryFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// More than the frames a run writes at once (one per thread and format, plus
// those waiting their turn) and the video's two files.
constexpr int slotCount = 128;
constexpr int longestPath = 4096;

enum State : int { Free, Writing, Remembered };

struct Slot {
    std::atomic<int> state{Free};
    char path[longestPath]{};
};
static_assert(std::atomic<int>::is_always_lock_free);

// All zero, so set up before the program starts (half a megabyte that is
// not touched until a file is remembered).
constinit Slot entries[slotCount];

constexpr int childCount = 4;  // more than the video encoders of a run
constinit std::atomic<pid_t> children[childCount]{};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// Set by an interrupt: no temporary file is created any more. `creating`
// counts the threads between creating a temporary file and remembering it,
// which the interrupt waits for (those threads hold the interrupts back, so
// the handler never runs inside that stretch).
std::atomic<bool> ending{false};
std::atomic<int> creating{0};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void removeAndEnd(int signal) {
    ending.store(true);
    timespec const pause{0, 100000};  // 0.1 ms, at most a second in all
    for (int k = 0; k < 10000 && creating.load() != 0; ++k)
        ::nanosleep(&pause, nullptr);
    // A child still running could create its output after the removal.
    for (std::atomic<pid_t>& child : children) {
        pid_t const process = child.load();
        if (process > 0) {
            ::kill(process, SIGKILL);
            while (::waitpid(process, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    for (Slot& slot : entries)
        if (slot.state.load() == Remembered)
            ::unlink(slot.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Remembers a file; returns the slot to forget it by, or -1 when the name is
// too long or every slot is taken (the file is then not cleaned up).
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

}  // namespace

namespace temporaryfiles {

void forget(int slot) {
    if (slot >= 0 && slot < slotCount)
        entries[slot].state.store(Free);
}

int openRemembered(QTemporaryFile& file) {
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&interrupts, signal);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
    creating.fetch_add(1);
    int slot = notOpened;
    if (!ending.load() && file.open())
        slot = remember(file.fileName());
    creating.fetch_sub(1);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return slot;
}

int rememberChild(pid_t process) {
    for (int k = 0; k < childCount; ++k) {
        pid_t expected = 0;
        if (children[k].compare_exchange_strong(expected, process))
            return k;
    }
    return -1;
}

void forgetChild(int slot) {
    if (slot >= 0 && slot < childCount)
        children[slot].store(0);
}

void removeOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = removeAndEnd;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

}  // namespace temporaryfiles
