// QZBACKUP: wires the real platform to the monitor.
#include "monitor/backup.h"
#include "monitor/report.h"

// A stop request (a service stopped, a shutdown) ends the run in order: the
// users are let back in and the failure is recorded.
int main() {
  plat::Native().processes.CatchStopRequests();
  return rt::Start(plat::Native(), monitor::ERRORSYS, monitor::MAIN);
}
