#include "failure/failure_hooks.h"

#include <array>
#include <cstddef>
#include <optional>

#include "failure/message_table.h"

namespace mlfsort {
namespace {

constexpr std::size_t kIoMessageCount = std::size(kIoMessageTable);

// Loading the messages and making the out-of-memory failure allocate
// nothing, so start-up cannot run out of memory before the hooks are in
// place.
struct HookState {
  bool installed = false;
  std::array<std::array<char, 256>, kIoMessageCount> io_messages;
  std::string out_of_memory_text = std::string(64, '\0');
  std::optional<EOutOfMemory> out_of_memory;
};

// Made before main, so its one allocation never meets an exhausted memory.
HookState hook_state;

HookState& State() { return hook_state; }

}  // namespace

void FailureHooks::Install() {
  HookState& state = State();
  for (std::size_t row = 0; row < kIoMessageCount; ++row) {
    LoadMessage(kIoMessageTable[row].message, state.io_messages[row].data(),
                state.io_messages[row].size());
  }
  // The text is loaded into room reserved when the state was made.
  std::string& text = state.out_of_memory_text;
  text.resize(text.capacity());
  text.resize(LoadMessage(MessageId::kOutOfMemory, text.data(), text.size()));
  state.out_of_memory.emplace(text);
  state.installed = true;
}

void FailureHooks::Remove() {
  HookState& state = State();
  state.installed = false;
  state.out_of_memory.reset();
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
