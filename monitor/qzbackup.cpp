// QZBACKUP: wires the real platform to the monitor.
#include "monitor/backup.h"
#include "monitor/report.h"

int main() { return rt::Start(plat::Native(), monitor::ERRORSYS, monitor::MAIN); }
