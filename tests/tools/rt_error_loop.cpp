// Runs on the monitor's run-time with an error handler that raises a run-time
// error of its own: each error runs the handler again, nested, until the
// ninth nested error ends the program with the unrecoverable failure 9003
// (exit code 1, the failure text on standard error).
#include "monitor/runtime/runtime.h"

namespace {

// The create error: the folder does not exist.
void RaiseCreateError(rt::Here caller = rt::Here::current()) {
  rt::Activation self("RAISECREATEERROR", caller);
  rt::SET(rt::ALTERNATE_FILE, "no such folder\\status.txt", false);
}

void InstallRaisingHandler() {
  rt::Activation self("ERRORSYS");
  rt::ERRORBLOCK(rt::Block([](rt::Arguments) -> rt::Value { RaiseCreateError(); return false; }));
}

void Main(const rt::Parameters&) {
  rt::Activation self("MAIN");
  RaiseCreateError();
}

}  // namespace

int main() { return rt::Start(plat::Native(), InstallRaisingHandler, Main); }
