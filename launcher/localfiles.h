// The local copies that the application runs from: the database client and
// its configuration, the spreadsheet library and the program itself. A copy
// is refreshed only when it is missing or its file stamp differs.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/support.h"

namespace launcher {

// Waits for a running application to close (when asked), refreshes the
// database client, copies ADS.INI and sets its two keys, and writes
// ADSLOCAL.CFG (and ADSLOCAL.CPY on install, upgrade and wait starts).
bool RefreshClientFiles(Context& context, const std::string& localFolder, bool installOrUpgrade,
                        bool waitForClose, bool silent);

bool RefreshSpreadsheetLibrary(Context& context, const std::string& localFolder);

// Copies LOCALMSG.TXT as README.TXT and then PURCHASE.EXE when the local program is out of date.
bool RefreshLocalProgram(Context& context, const std::string& localFolder,
                         const std::string& localProgram);

// A 32-bit stand-in for a file's last-write time: FAT date and time to the
// minute. A file without a proper time gets a fresh counter value that
// matches no other stamp.
uint32_t FileStamp(Context& context, const std::string& name);

// The database client's configuration for a local folder.
std::string ClientConfiguration(const std::string& localFolder);

}  // namespace launcher
