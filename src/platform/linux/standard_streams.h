#pragma once

namespace qvr::platform::hidraw {

// Gives each of the standard descriptors 0, 1 and 2 that the program was started without a
// /dev/null opened the wrong way round (standard input for writing, the outputs for reading).
// Call it first, before anything is opened: the next open() takes the lowest free number, and a
// device node that became standard output would have the program's text written to the device
// as output reports. Opened the wrong way, the descriptor is as useless as a closed one, so a
// write to a closed standard output still fails (EBADF) and the program can say so.
void holdClosedStandardStreams();

}  // namespace qvr::platform::hidraw
