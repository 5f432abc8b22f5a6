// Whole reads and writes on a file descriptor, retried across signals and short transfers; the
// library and the panel helper speak through pipes with these.
//
// Thread safety: any thread, on descriptors the caller owns.
#pragma once

#include <string>

namespace pw::desktop {

// False when the descriptor refuses a byte before all are written.
bool writeAll(int fd, const std::string& bytes);
// Everything up to end of file (or up to the first error).
std::string readToEnd(int fd);

}  // namespace pw::desktop
