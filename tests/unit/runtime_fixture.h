// A run-time test: a fresh folder as the current folder, the run-time on the
// test platform with its state fresh, and helpers to handle and record the
// run-time errors that the operations raise.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "monitor/runtime/internal.h"
#include "monitor/runtime/runtime.h"
#include "support/support.h"

namespace rt {

// gtest shows values by their kind and text form.
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << "kind " << static_cast<int>(value.kind()) << " \"" << internal::TextForm(value) << "\"";
}

}  // namespace rt

namespace runtime_test {

class RuntimeTest : public support::TempFolderTest {
 protected:
  void SetUp() override {
    support::TempFolderTest::SetUp();
    rt::UsePlatform(test.platform);
    rt::ResetState();
  }
  void TearDown() override {
    rt::ResetState();
    rt::UsePlatform(plat::Native());
    support::TempFolderTest::TearDown();
  }

  // Installs a handler that records each error and answers `answer`.
  void RecordErrors(rt::Value answer) {
    rt::ERRORBLOCK(rt::Block([this, answer](rt::Arguments error) {
      raised.push_back(*error[0].AsError());
      return answer;
    }));
  }

  support::TestPlatform test;
  std::vector<rt::Error> raised;
};

}  // namespace runtime_test
