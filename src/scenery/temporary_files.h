// Files a run writes under temporary names (frames and the video before
// they are renamed into place, ffmpeg's log), remembered so that an
// interrupted run can remove them: on SIGINT, SIGTERM or SIGHUP every
// remembered file is removed and the process ends by the same signal, with
// the status a shell expects.
//
// The list is process-wide by nature (a signal handler reaches no object)
// and lock-free, so the handler may read it whatever the threads are doing.
#pragma once

#include <QString>

namespace temporaryfiles {

// Remembers a file; returns the slot to forget it by, or -1 when the name is
// too long or every slot is taken (the file is then not cleaned up).
int remember(QString const& path);

// Forgets the file of a slot (-1 is ignored): it was renamed or removed.
void forget(int slot);

// Installs the handlers for SIGINT, SIGTERM and SIGHUP.
void removeOnInterrupt();

}  // namespace temporaryfiles
