// Whether the process is ending, as seen from a library's unload path.
#pragma once

namespace sion {

// True while the process is terminating: on Windows the loader then unloads libraries after
// every other thread has been killed, so nothing may wait for (or lock against) those
// threads. Elsewhere the threads are still alive at unload time and this is always false.
bool ProcessIsTerminating() noexcept;

}  // namespace sion
