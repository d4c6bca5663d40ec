// Files a run writes under temporary names (frames and the video before
// they are renamed into place, ffmpeg's log), remembered so that an
// interrupted run can remove them: on SIGINT, SIGTERM or SIGHUP every
// remembered child process is killed, every remembered file is removed and
// the process ends by the same signal, with the status a shell expects.
//
// The list is process-wide by nature (a signal handler reaches no object)
// and lock-free, so the handler may read it whatever the threads are doing.
#pragma once

#include <sys/types.h>

class QTemporaryFile;

namespace temporaryfiles {

// Forgets the file of a slot (-1 is ignored): it was renamed or removed.
void forget(int slot);

// Opens (creates) the temporary file and remembers it as one step an
// interrupt cannot come between, on whatever thread: returns the slot (-1
// when it could not be remembered), or notOpened when the file could not be
// created (its error string says why) or the run is being interrupted.
constexpr int notOpened = -2;
int openRemembered(QTemporaryFile& file);

// Remembers a child process that writes a remembered file (ffmpeg): an
// interrupt ends it before removing the files, so that it cannot create one
// of them afterwards. Returns the slot to forget it by, or -1.
int rememberChild(pid_t process);

// Forgets the child of a slot (-1 is ignored); called before it is reaped,
// so that a reused process number is never signalled.
void forgetChild(int slot);

// Installs the handlers for SIGINT, SIGTERM and SIGHUP.
void removeOnInterrupt();

}  // namespace temporaryfiles
