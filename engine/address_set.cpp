#include "engine/address_set.hpp"

#include <cstring>

#include "engine/byte_scan.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080;

std::uint64_t hashOf(std::string_view key) {
  std::uint64_t hash = key.size();
  for (std::size_t at = 0; at < key.size(); at += 8) {
    hash = (hash ^ loadUpTo8(key.data() + at, key.size() - at)) * 0x9E3779B97F4A7C15;
    hash ^= hash >> 29;
  }
  // Every bit of the key reaches the low bits, which pick the slot.
  hash ^= hash >> 32;
  hash *= 0xD6E8FEB86659FD93;
  hash ^= hash >> 32;
  return hash | 1;
}

}  // namespace

// ASCII eight bytes at a time; a word with a byte beyond ASCII character by
// character, a stray byte as a mark of its own and the byte, as it equals
// only itself. As in equalsIgnoringCase, the form of the text tells no other
// addresses apart: a lone surrogate of a UTF-16 file's text is read as its
// three stray bytes.
std::string_view AddressSet::makeKey(std::string_view address) {
  // Room for the longest key, every character a mark and its code, made
  // only when the addresses grow.
  if (m_key.size() < 4 * address.size()) m_key.resize(4 * address.size());
  std::size_t size = 0;
  for (std::size_t at = 0; at < address.size();) {
    const std::size_t count = std::min<std::size_t>(8, address.size() - at);
    const std::uint64_t word = loadUpTo8(address.data() + at, count);
    if ((word & kHighBits) == 0) {
      const std::uint64_t lower = lowerAsciiBytes(word);
      std::memcpy(m_key.data() + size, &lower, count);  // little-endian: the first bytes
      size += count;
      at += count;
      continue;
    }
    for (const std::size_t end = at + count; at < end;) {
      const Character c = characterAt(address, at, TextForm::Utf8);
      const char32_t code = c.wellFormed ? toLower(c.code) : c.code;
      m_key[size++] = static_cast<char>(c.wellFormed ? 0xFF : 0xFE);
      m_key[size++] = static_cast<char>(code >> 16);
      m_key[size++] = static_cast<char>(code >> 8);
      m_key[size++] = static_cast<char>(code);
      at += c.size;
    }
  }
  return {m_key.data(), size};
}

namespace {

constexpr int kOffsetBits = 40;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;

std::uint64_t tagOf(std::uint64_t hash) {
  return hash >> kOffsetBits << kOffsetBits;
}

// The key that a full slot stands for.
std::string_view keyAt(const std::string& keys, std::uint64_t slot) {
  const std::size_t offset = (slot & kOffsetMask) - 1;
  std::uint32_t size;
  std::memcpy(&size, keys.data() + offset, sizeof size);
  return std::string_view(keys).substr(offset + sizeof size, size);
}

}  // namespace

bool AddressSet::insert(std::string_view address) {
  const std::string_view key = makeKey(address);
  const std::uint64_t hash = hashOf(key);
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    std::uint64_t& slot = m_slots[i];
    if (slot == 0) {
      slot = tagOf(hash) | (m_keys.size() + 1);
      const auto size = static_cast<std::uint32_t>(key.size());
      m_keys.append(reinterpret_cast<const char*>(&size), sizeof size);
      m_keys += key;
      if (++m_used * 2 > m_slots.size()) grow();
      return true;
    }
    if (tagOf(slot) == tagOf(hash) && keyAt(m_keys, slot) == key) return false;
  }
}

void AddressSet::grow() {
  std::vector<std::uint64_t> slots(m_slots.size() * 2);
  const std::size_t mask = slots.size() - 1;
  for (const std::uint64_t slot : m_slots) {
    if (slot == 0) continue;
    std::size_t i = hashOf(keyAt(m_keys, slot)) & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = slot;
  }
  m_slots.swap(slots);
}

}  // namespace tavrin
