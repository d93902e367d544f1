#include "process/process_frame.h"

#include <new>
#include <stdexcept>

#include "failure/exceptions.h"
#include "failure/failure_check.h"
#include "failure/failure_hooks.h"
#include "failure/failure_report.h"
#include "failure/failure_words.h"
#include "failure/memory_reserve.h"
#include "failure/message_format.h"
#include "platform/compiler.h"
#include "textio/io_failure_site.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

constexpr std::int32_t kRuntimeErrorFailure = 217;
constexpr std::int32_t kRuntimeErrorOutOfMemory = 203;

void StartCore(Process& process) {
  process.exit_status = 0;
  process.streams.Name();
}

// No failure check follows these closes: a failure of them is ignored, and
// never starts a second report (a standard output the run never wrote is
// closed too, and leaves its code).
void StopCore(Process& process) {
  process.streams.Close();
  TakePendingIoError();
}

void StartFailureReporting(Process&) { FailureHooks::Install(); }

void StopFailureReporting(Process&) { FailureHooks::Remove(); }

constexpr Module kSystemModules[] = {
    {"core", &StartCore, &StopCore},
    {"failure reporting", &StartFailureReporting, &StopFailureReporting},
};

// Runs one step of the process, turning memory exhaustion anywhere in it
// into the out-of-memory failure (or, outside the failure hooks, runtime
// error 203). Never inlined: its return address is the failure address.
MLFSORT_NOINLINE void RunStep(void (*step)(Process&), Process& process) {
  try {
    step(process);
  } catch (const std::bad_alloc&) {
    const void* address = MLFSORT_RETURN_ADDRESS();
    if (FailureHooks::Installed()) RaiseOutOfMemory(address);
    throw RuntimeError{kRuntimeErrorOutOfMemory, address};
  } catch (const std::length_error&) {
    // A text that would outgrow its size limit is memory that cannot be had.
    const void* address = MLFSORT_RETURN_ADDRESS();
    if (FailureHooks::Installed()) RaiseOutOfMemory(address);
    throw RuntimeError{kRuntimeErrorOutOfMemory, address};
  }
}

// A write to standard output that failed because its reader has gone.
bool ReaderOfStandardOutputHasGone(const Exception& failure) {
  const auto* io_failure = dynamic_cast<const EInOutError*>(&failure);
  const IoFailureSite& site = LastIoFailure();
  return io_failure != nullptr &&
         io_failure->error_code() == platform_error::kNoData &&
         site.code == platform_error::kNoData &&
         site.target == IoTarget::kStandardOutput;
}

void EndWithFailureReport(Process& process, const Exception& failure) {
  process.exit_status = process.failure_status;
  if (process.standard_output_is_the_result &&
      ReaderOfStandardOutputHasGone(failure)) {
    return;
  }
  // Standard error leads to one of the run's files: the status alone tells.
  if (process.report_on_standard_error && process.diagnostics.silenced()) {
    return;
  }
  // Composed before the report is written: writing can fail and leave a
  // site of its own.
  char words[kFailureWordsBytes];
  ComposeFailureWords(failure, LastIoFailure(),
                      process.diagnostics.explanation(), words, sizeof words);
  WriteFailureReport(process.platform, failure,
                     process.report_on_standard_error ? process.streams.error
                                                      : process.streams.output);
  process.diagnostics.WriteTo(process.streams.error, words);
}

void EndWithRuntimeError(Process& process, std::int32_t number,
                         const void* address) {
  WriteRuntimeError(process.platform, number, address, process.streams.output);
  char words[64];
  const FormatArgument argument[] = {FormatArgument::Decimal(number)};
  FormatInto(
      words, sizeof words,
      number == kRuntimeErrorOutOfMemory ? "out of memory" : "runtime error %d",
      argument);
  process.diagnostics.WriteTo(process.streams.error, words);
  process.exit_status = number;
}

// Ends a process that could not even take its memory reserve: nothing can
// be raised then, and what is reported must not need memory either. Never
// inlined: its return address is the failure address.
MLFSORT_NOINLINE void ReportShortMemory(Process& process) {
  EndWithRuntimeError(process, kRuntimeErrorOutOfMemory,
                      MLFSORT_RETURN_ADDRESS());
}

}  // namespace

std::span<const Module> SystemModules() { return kSystemModules; }

int RunProcess(Platform& platform, std::span<const Module> modules,
               RunFunction run) {
  Process process(platform);
  // Before anything of the process asks for memory.
  const MemoryReserve reserve;
  std::size_t started = 0;
  try {
    for (const Module& module : modules) {
      ++started;
      if (module.start != nullptr) RunStep(module.start, process);
    }
    if (reserve.held()) {
      RunStep(run, process);
      process.diagnostics.WriteTo(process.streams.error, {});
    } else {
      ReportShortMemory(process);
    }
  } catch (const Exception& failure) {
    if (FailureHooks::Installed()) {
      EndWithFailureReport(process, failure);
    } else {
      EndWithRuntimeError(process, kRuntimeErrorFailure, failure.address());
    }
  } catch (const RuntimeError& error) {
    EndWithRuntimeError(process, error.number, error.address);
  } catch (...) {
    // No part of mlfsort throws anything else; should a library do so, the
    // process still ends in order rather than aborting.
    EndWithRuntimeError(process, kRuntimeErrorFailure, nullptr);
  }
  while (started > 0) {
    --started;
    const Module& module = modules[started];
    if (module.stop != nullptr) module.stop(process);
  }
  platform.ExitProcess(process.exit_status);
  return process.exit_status;
}

}  // namespace mlfsort
