// The installation identity, the workstation's local folder named after it,
// and the rights check that proves users may change the shared root.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/support.h"

namespace launcher {

// The seven files of the identity, relative to the shared root.
struct IdentityFiles {
  std::string identity;        // the installation's identity
  std::string previous;        // the identity in force before the last rights check
  std::string firstBackup;     // restores a missing identity file
  std::string secondBackup;    // restores it when the first backup is absent
  std::string shiftedBackup;   // the identity with every byte raised by one; overrides the file
  std::string rightsMarker;    // its absence or archive attribute triggers the rights check
  std::string rightsSource;    // copied onto the marker by the rights check; must exist
};

// The names, assembled from a scrambled letter table so that they do not stand
// in the program as plain text.
IdentityFiles AssembleIdentityFiles();

// One step of the identity's pseudo-random generator; gives 0 to 32767.
uint32_t NextRandom(uint32_t& state);

// A new identity: date part, UTC time of day, tick count, available memory and
// a random number, as "%s-%02d%02d%02d-%lu-%lu-%lu".
std::string FormatIdentity(const std::string& datePart, const plat::CalendarTime& utc,
                           uint32_t tick, uint32_t memory, uint32_t random);

// True when an identity can name a folder: not empty, not "." or "..", and
// free of path separators, drive colons, wildcards and control characters.
bool IsUsableIdentity(const std::string& identity);

// Checks the local folder, settles the identity (running the rights check when
// the marker asks for it), extends the default folder by the identity, creates
// the folder and carries PURCHASE.INI over. False after a message.
bool PrepareLocalFolder(Context& context, std::string& localFolder);

}  // namespace launcher
