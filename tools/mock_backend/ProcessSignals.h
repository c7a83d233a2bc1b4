// The few OS services the mock backend needs: keeping broken-pipe signals away from its server
// threads, and the program's wait for a stop request. One file per OS.
#pragma once

namespace zarnmock {

// A peer that hangs up while an answer is written must not end the host process; threads
// created afterwards by the calling thread inherit this.
void IgnoreBrokenPipesOnThisThread();

// Call once at program start, before any thread exists: stop requests (SIGINT and SIGTERM;
// Ctrl+C, Ctrl+Break, closing the console and the event "Local\zarn-stop-<process id>" on
// Windows) are then only taken by
// WaitForStopRequest instead of ending the process.
void PrepareForStopRequests();
// Blocks until a stop request arrives.
void WaitForStopRequest();

}  // namespace zarnmock
