// Creating the pseudo-terminal the simulator plays on, and watching its slave side.
#pragma once

#include <string>

#include "fd.h"

namespace tq318::sim {

struct Pty {
  Fd master;          // non-blocking, close-on-exec
  std::string slave;  // e.g. /dev/pts/5
};

// Opens a new pty and sets its slave side raw (no echo, no line editing, no
// CR/LF mapping), so bytes pass unchanged whatever the opener does first.
// Throws std::system_error on failure.
Pty open_pty();

enum class SlaveState { open, closed, gone };

// Looks at the master without waiting: `closed` while no process has the
// slave open (the master then reports POLLHUP), `gone` if the master is bad.
SlaveState slave_state(int master_fd);

}  // namespace tq318::sim
