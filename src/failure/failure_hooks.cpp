#include "failure/failure_hooks.h"

#include <optional>
#include <string>

#include "failure/message_table.h"

namespace mlfsort {
namespace {

struct HookState {
  bool installed = false;
  // Made by Install: nothing may allocate before the process frame is in
  // place, where running out of memory ends in the runtime error message
  // rather than in an abort.
  std::optional<std::string> out_of_memory_text;
  std::optional<EOutOfMemory> out_of_memory;
};

// Initialised at compile time: no code runs for it before main.
constinit HookState hook_state;

HookState& State() { return hook_state; }

}  // namespace

void FailureHooks::Install() {
  HookState& state = State();
  state.out_of_memory.emplace(
      state.out_of_memory_text.emplace(MessageText(MessageId::kOutOfMemory)));
  state.installed = true;
}

void FailureHooks::Remove() {
  HookState& state = State();
  state.installed = false;
  state.out_of_memory.reset();
  state.out_of_memory_text.reset();
}

bool FailureHooks::Installed() { return State().installed; }

const EOutOfMemory* FailureHooks::OutOfMemory() {
  const HookState& state = State();
  return state.out_of_memory ? &*state.out_of_memory : nullptr;
}

}  // namespace mlfsort
