#include "failure/failure_hooks.h"

#include <array>
#include <cstddef>
#include <optional>

#include "failure/message_table.h"

namespace mlfsort {
namespace {

constexpr std::size_t kIoMessageCount = std::size(kIoMessageTable);

struct HookState {
  bool installed = false;
  std::optional<EOutOfMemory> out_of_memory;
  std::array<std::string, kIoMessageCount> io_messages;
};

HookState& State() {
  static HookState state;
  return state;
}

std::string LoadedText(MessageId id) {
  char text[256];
  const std::size_t length = LoadMessage(id, text, sizeof text);
  return std::string(text, length);
}

}  // namespace

void FailureHooks::Install() {
  HookState& state = State();
  for (std::size_t row = 0; row < kIoMessageCount; ++row) {
    state.io_messages[row] = LoadedText(kIoMessageTable[row].message);
  }
  state.out_of_memory.emplace(LoadedText(MessageId::kOutOfMemory));
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

const std::string* FailureHooks::IoMessage(std::int32_t code) {
  const HookState& state = State();
  for (std::size_t row = 0; row < kIoMessageCount; ++row) {
    if (kIoMessageTable[row].code == code) return &state.io_messages[row];
  }
  return nullptr;
}

}  // namespace mlfsort
