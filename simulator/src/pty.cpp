#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <system_error>

namespace tq318::sim {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

Pty open_pty() {
  Pty pty;
  pty.master = Fd(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!pty.master.valid()) fail("posix_openpt");
  if (::grantpt(pty.master.get()) != 0) fail("grantpt");
  if (::unlockpt(pty.master.get()) != 0) fail("unlockpt");
  char name[128];
  if (::ptsname_r(pty.master.get(), name, sizeof name) != 0) fail("ptsname_r");
  pty.slave = name;
  // Open the slave once to make it raw; the setting stays with the pty for
  // later openers. Closing it leaves the master reporting POLLHUP, which is how
  // the first real open is noticed.
  Fd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave.valid()) fail("open slave");
  termios t{};
  if (::tcgetattr(slave.get(), &t) != 0) fail("tcgetattr");
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(slave.get(), TCSANOW, &t) != 0) fail("tcsetattr");
  return pty;
}

SlaveState slave_state(int master_fd) {
  pollfd p{master_fd, 0, 0};
  int r;
  do r = ::poll(&p, 1, 0);
  while (r < 0 && errno == EINTR);
  if (r < 0) return SlaveState::gone;
  if (p.revents & POLLNVAL) return SlaveState::gone;
  return (p.revents & POLLHUP) ? SlaveState::closed : SlaveState::open;
}

}  // namespace tq318::sim
