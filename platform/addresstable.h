// Addresses that travel as 32-bit numbers where addresses are wider: library
// handles and entry points, which the monitor's values carry in 32 bits. Each
// distinct address gets the next number, counted from the table's first (1
// or more, so that no number is 0), and keeps it. No system call is
// involved, and nothing is locked: the owner holds its own lock.
#pragma once

#include <cstdint>
#include <vector>

namespace plat {

class AddressTable {
 public:
  explicit AddressTable(uint32_t first) : first_(first) {}

  // The address's number: the one it was given before, else a new one.
  uint32_t Number(const void* address) {
    for (size_t i = 0; i < addresses_.size(); ++i) {
      if (addresses_[i] == address) return first_ + static_cast<uint32_t>(i);
    }
    addresses_.push_back(address);
    return first_ + static_cast<uint32_t>(addresses_.size() - 1);
  }

  // The address that a number stands for; null for a number never given.
  const void* Address(uint32_t number) const {
    return number >= first_ && number - first_ < addresses_.size() ? addresses_[number - first_]
                                                                   : nullptr;
  }

 private:
  uint32_t first_;
  std::vector<const void*> addresses_;
};

}  // namespace plat
