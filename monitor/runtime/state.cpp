#include "monitor/runtime/state.h"

#include "monitor/runtime/internal.h"

namespace rt {

namespace internal {

State& S() {
  static State state;
  return state;
}

}  // namespace internal

using internal::S;

plat::Platform& Os() {
  if (S().os == nullptr) S().os = &plat::Native();
  return *S().os;
}

void UsePlatform(plat::Platform& platform) { S().os = &platform; }

void ResetState() {
  internal::State& state = S();
  state.alternateFile.reset();
  state.settings = internal::Settings{};
  state.levels.clear();
  state.handler = Value();
  state.handlersRunning = 0;
  state.quitRequested = false;
  state.exitCode = 0;
}

Activation::Activation(const char* name, const Here& caller) {
  std::vector<Level>& levels = S().levels;
  if (!levels.empty()) levels.back().line = caller.line();
  levels.push_back(Level{name, 0});
}

Activation::Activation(const char* name, uint32_t line) {
  S().levels.push_back(Level{name, line});
}

Activation::~Activation() {
  std::vector<Level>& levels = S().levels;
  if (!levels.empty()) levels.pop_back();  // empty only after a reset in between
}

namespace {

// The level `level` steps out from the innermost one, or null.
const Level* LevelAt(int level, const Here& caller) {
  std::vector<Level>& levels = S().levels;
  if (levels.empty()) return nullptr;
  levels.back().line = caller.line();
  if (level < 0 || static_cast<size_t>(level) >= levels.size()) return nullptr;
  return &levels[levels.size() - 1 - static_cast<size_t>(level)];
}

}  // namespace

Value PROCNAME(int level, Here caller) {
  const Level* found = LevelAt(level, caller);
  return found ? Value(found->name) : Value("");
}

Value PROCLINE(int level, Here caller) {
  const Level* found = LevelAt(level, caller);
  return Value(found ? found->line : 0u);
}

std::vector<Level> ActiveLevels() {
  const std::vector<Level>& levels = S().levels;
  return std::vector<Level>(levels.rbegin(), levels.rend());
}

}  // namespace rt
