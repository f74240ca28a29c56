// QZSTART: wires the real platform to the launcher.
#include "launcher/start.h"

int main() { return launcher::Run(plat::Native()); }
