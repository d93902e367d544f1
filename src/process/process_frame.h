// The frame around a run: the start sequence, the one shutdown by which
// every run ends, and the exit status.
//
// Modules start in order and stop in reverse; a module counts as started
// just before its start step, so one whose start step fails is stopped too.
// While the failure hooks are installed (from the failure reporting
// module's start step to its stop step) every failure ends in the failure
// report and exit status 1; outside that span, in the runtime error message
// with the error number as exit status. Either way the run's diagnostics
// go to standard error then, a failure's words last. Shutdown closes
// standard input and then standard output, which writes out everything it
// buffers, the failure report included.
//
// Memory runs out one way everywhere below the frame: the code that asks
// for memory throws std::bad_alloc and leaves what it holds as it was, and
// the frame turns that into the out-of-memory failure (runtime error 203
// outside the hooks), failing at the call of the step that ran out. Only
// the failure check, which builds the failure object itself, raises the
// out-of-memory failure at its own address when that object cannot be had.

#ifndef MLFSORT_PROCESS_PROCESS_FRAME_H_
#define MLFSORT_PROCESS_PROCESS_FRAME_H_

#include <span>

#include "platform/platform.h"
#include "process/diagnostics.h"
#include "process/standard_streams.h"

namespace mlfsort {

// What the frame keeps for the whole process.
struct Process {
  explicit Process(Platform& platform)
      : platform(platform), streams(platform) {}

  Platform& platform;
  int exit_status = 0;
  StandardStreams streams;
  // Written to standard error as the run ends, whichever way.
  Diagnostics diagnostics;
  // Where a failure report goes and the exit status it ends with: standard
  // output and 1, unless the run chose otherwise (when standard output
  // carries the sorted lines, or a check tells trouble from disorder).
  bool report_on_standard_error = false;
  int failure_status = 1;
  // Standard output carries the run's result: when its reader goes away,
  // the run ends at once with the failure status and says nothing.
  bool standard_output_is_the_result = false;
};

// One module of the program. Steps may be missing (nullptr). Stop steps
// never throw.
struct Module {
  const char* name;
  void (*start)(Process& process);
  void (*stop)(Process& process);
};

// The program's modules in start order: the core module (exit status and
// standard streams), then the failure reporting module (failure hooks).
std::span<const Module> SystemModules();

using RunFunction = void (*)(Process& process);

// Takes the memory reserve, starts `modules`, calls `run`, and shuts down:
// stops the started modules in reverse, then hands the exit status to
// Platform::ExitProcess (0 after a normal run, 1 after a failure report).
// Returns that status where ExitProcess returns (the in-memory platform).
int RunProcess(Platform& platform, std::span<const Module> modules,
               RunFunction run);

}  // namespace mlfsort

#endif  // MLFSORT_PROCESS_PROCESS_FRAME_H_
