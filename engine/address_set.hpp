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
// and 20 to 36 bytes more for each.
class AddressSet {
 public:
  // False when an equal address was inserted before.
  bool insert(std::string_view address);

 private:
  std::string_view makeKey(std::string_view address);
  void grow();

  // A slot is 0 when empty, else the top 24 bits of its key's hash above
  // where the key stands in m_keys, plus one: eight bytes, so that the
  // table stays in the processor's cache for longer.
  std::vector<std::uint64_t> m_slots = std::vector<std::uint64_t>(1024);  // a power of two
  std::size_t m_used = 0;
  std::string m_keys;  // every key after its size in four bytes, one after another
  std::string m_key;   // room for the key of the address at hand
};

}  // namespace tavrin
