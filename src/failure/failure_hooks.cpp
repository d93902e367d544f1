#include "failure/failure_hooks.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "failure/message_table.h"

namespace mlfsort {
namespace {

constexpr std::size_t kIoMessageCount = std::size(kIoMessageTable);

struct HookState {
  bool installed = false;
  std::array<std::array<char, 256>, kIoMessageCount> io_messages{};
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
  for (std::size_t row = 0; row < kIoMessageCount; ++row) {
    LoadMessage(kIoMessageTable[row].message, state.io_messages[row].data(),
                state.io_messages[row].size());
  }
  char text[64];
  const std::size_t length =
      LoadMessage(MessageId::kOutOfMemory, text, sizeof text);
  state.out_of_memory.emplace(state.out_of_memory_text.emplace(text, length));
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

const char* FailureHooks::IoMessage(std::int32_t code) {
  const HookState& state = State();
  for (std::size_t row = 0; row < kIoMessageCount; ++row) {
    if (kIoMessageTable[row].code == code) {
      return state.io_messages[row].data();
    }
  }
  return nullptr;
}

}  // namespace mlfsort
