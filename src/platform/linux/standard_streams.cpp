#include "platform/linux/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace qvr::platform::hidraw {

void holdClosedStandardStreams() {
  // In order from 0, so each open() lands on the number just found closed: every lower one is
  // taken by then.
  for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    const int access = descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY;
    // Closed on exec, so that a program started from here finds it closed as this one did.
    const int opened = ::open("/dev/null", access | O_CLOEXEC);
    if (opened != descriptor && opened != -1) {
      close(opened);
    }
  }
}

}  // namespace qvr::platform::hidraw
