#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// The addresses written so far, told apart as the name rules tell texts
// apart: ignoring letter case by the Unicode simple mapping. Each different
// address is kept once as a key (its bytes with ASCII lower-cased, any other
// character as a mark and its lower-case code) in one long text, and found
// again through an open-addressing table of at most half full slots, so
// memory grows with the number of different addresses: about their length
// and 48 bytes more for each.
class AddressSet {
 public:
  // False when an equal address was inserted before.
  bool insert(std::string_view address);

 private:
  struct Slot {
    std::uint64_t hash = 0;  // 0: empty; a key's hash has its lowest bit set
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
  };
  std::string_view makeKey(std::string_view address);
  void grow();

  std::vector<Slot> m_slots = std::vector<Slot>(1024);  // a power of two
  std::size_t m_used = 0;
  std::string m_keys;  // every key, one after another
  std::string m_key;   // room for the key of the address at hand
};

}  // namespace tavrin
