#include "sorter/key_order.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace mlfsort {
namespace {

using ByteTable = std::array<std::uint8_t, 256>;

// First-level weights 1, 2, 3, ... in this order; the letters also give
// their upper-case forms the same weight, and 128-255 follow by value.
constexpr std::string_view kWeightedAsciiInOrder =
    " \t\n\v\f\r"
    "!\"#$%&()*,./:;?@[\\]^_`{|}~"
    "+<=>"
    "0123456789"
    "abcdefghijklmnopqrstuvwxyz";

// 0 for a tie-breaker byte; weight 0 is what Summary uses for "no more".
constexpr ByteTable MakePrimaryWeights() {
  ByteTable weights{};
  unsigned next_weight = 1;
  for (char ascii : kWeightedAsciiInOrder) {
    const auto byte = static_cast<unsigned char>(ascii);
    weights[byte] = static_cast<std::uint8_t>(next_weight);
    if (byte >= 'a' && byte <= 'z') {
      weights[byte - 'a' + 'A'] = static_cast<std::uint8_t>(next_weight);
    }
    ++next_weight;
  }
  for (unsigned byte = 128; byte < 256; ++byte) {
    weights[byte] = static_cast<std::uint8_t>(next_weight++);
  }
  return weights;
}

// 1, 2, 3, ... for the tie-breaker bytes in their order; 0 for the others.
constexpr ByteTable MakeTieBreakerRanks() {
  ByteTable ranks{};
  unsigned next_rank = 1;
  const auto rank = [&ranks, &next_rank](unsigned byte) {
    ranks[byte] = static_cast<std::uint8_t>(next_rank++);
  };
  for (unsigned byte = 0; byte <= 8; ++byte) rank(byte);
  for (unsigned byte = 14; byte <= 31; ++byte) rank(byte);
  rank(127);
  rank('\'');
  rank('-');
  return ranks;
}

constexpr ByteTable kPrimaryWeight = MakePrimaryWeights();
constexpr ByteTable kTieBreakerRank = MakeTieBreakerRanks();

// Every byte must be either weighted or a tie-breaker, never both or neither;
// a byte in neither table would be silently invisible to the order.
constexpr bool EveryByteInExactlyOneLevel() {
  for (unsigned byte = 0; byte < 256; ++byte) {
    if ((kPrimaryWeight[byte] == 0) == (kTieBreakerRank[byte] == 0)) {
      return false;
    }
  }
  return true;
}
static_assert(EveryByteInExactlyOneLevel());
static_assert(kWeightedAsciiInOrder.size() + 128 <= 255,
              "a first-level weight must fit in one byte of a summary");

inline unsigned char ByteAt(std::string_view key, std::size_t pos) {
  return static_cast<unsigned char>(key[pos]);
}

// Length of the leading run of identical bytes, eight at a time: keys in one
// file typically share long path prefixes. May stop short of the run's end.
std::size_t IdenticalChunksLength(std::string_view a, std::string_view b) {
  const std::size_t limit = a.size() < b.size() ? a.size() : b.size();
  std::size_t pos = 0;
  while (pos + sizeof(std::uint64_t) <= limit) {
    std::uint64_t a_chunk;
    std::uint64_t b_chunk;
    std::memcpy(&a_chunk, a.data() + pos, sizeof a_chunk);
    std::memcpy(&b_chunk, b.data() + pos, sizeof b_chunk);
    if (a_chunk != b_chunk) break;
    pos += sizeof(std::uint64_t);
  }
  return pos;
}

// The weight of the first weighted byte at or after *pos, moving *pos past
// it; 0 when the key has no weighted byte left.
inline unsigned NextPrimaryWeight(std::string_view key, std::size_t* pos) {
  while (*pos < key.size()) {
    const unsigned weight = kPrimaryWeight[ByteAt(key, (*pos)++)];
    if (weight != 0) return weight;
  }
  return 0;
}

int ComparePrimary(std::string_view a, std::string_view b, std::size_t start) {
  std::size_t a_pos = start;
  std::size_t b_pos = start;
  while (true) {
    const unsigned a_weight = NextPrimaryWeight(a, &a_pos);
    const unsigned b_weight = NextPrimaryWeight(b, &b_pos);
    // A key that has run out has weight 0, so it sorts first.
    if (a_weight != b_weight) return a_weight < b_weight ? -1 : 1;
    if (a_weight == 0) return 0;
  }
}

inline std::size_t NextTieBreaker(std::string_view key, std::size_t pos) {
  while (pos < key.size() && kTieBreakerRank[ByteAt(key, pos)] == 0) ++pos;
  return pos;
}

// Positions are those in the whole keys; the walks may start at any offset
// before which both keys have the same tie-breaker pairs.
int CompareTieBreakers(std::string_view a, std::string_view b,
                       std::size_t start) {
  std::size_t a_pos = start;
  std::size_t b_pos = start;
  while (true) {
    a_pos = NextTieBreaker(a, a_pos);
    b_pos = NextTieBreaker(b, b_pos);
    const bool a_done = a_pos == a.size();
    const bool b_done = b_pos == b.size();
    if (a_done || b_done) return static_cast<int>(b_done) - a_done;
    if (a_pos != b_pos) return a_pos > b_pos ? -1 : 1;
    const unsigned a_rank = kTieBreakerRank[ByteAt(a, a_pos)];
    const unsigned b_rank = kTieBreakerRank[ByteAt(b, b_pos)];
    if (a_rank != b_rank) return a_rank < b_rank ? -1 : 1;
    ++a_pos;
    ++b_pos;
  }
}

// The first-level weights of `key` from byte `from` on, in the low `bits`
// bits, the first in the most significant. Each weight becomes a code that
// sorts as the weight does and that no other code begins with: 7 bits for
// the weights below the escape (all of ASCII), the escape and then 8 bits
// for the others. The last code is cut where the bits run out, which keeps
// the order of whatever fits.
WideKeySummary PackWeights(std::string_view key, std::size_t from, int bits) {
  constexpr unsigned kEscape = 127;
  WideKeySummary packed = 0;
  int free_bits = bits;
  for (std::size_t pos = from; pos < key.size(); ++pos) {
    const unsigned weight = kPrimaryWeight[ByteAt(key, pos)];
    if (weight == 0) continue;
    const bool escaped = weight >= kEscape;
    const WideKeySummary code = escaped ? kEscape << 8 | weight : weight;
    const int code_bits = escaped ? 15 : 7;
    if (code_bits >= free_bits) {
      packed |= code >> (code_bits - free_bits);
      break;
    }
    free_bits -= code_bits;
    packed |= code << free_bits;
  }
  return packed;
}

}  // namespace

int PortableKeyOrder::Compare(std::string_view a, std::string_view b) const {
  // A position holding the same byte in both keys, or two letters of equal
  // weight, adds the same to both keys' levels and is passed over. The first
  // position with two different weights decides the first level at once;
  // from the first position where a tie-breaker differs, both levels are
  // compared in full.
  const std::size_t limit = a.size() < b.size() ? a.size() : b.size();
  std::size_t pos = IdenticalChunksLength(a, b);
  for (; pos < limit; ++pos) {
    if (a[pos] == b[pos]) continue;
    const unsigned a_weight = kPrimaryWeight[ByteAt(a, pos)];
    const unsigned b_weight = kPrimaryWeight[ByteAt(b, pos)];
    if (a_weight == 0 || b_weight == 0) break;
    if (a_weight != b_weight) return a_weight < b_weight ? -1 : 1;
  }
  if (pos == a.size() && pos == b.size()) return 0;
  const int primary = ComparePrimary(a, b, pos);
  if (primary != 0) return primary;
  return CompareTieBreakers(a, b, pos);
}

WideKeySummary PortableKeyOrder::WideSummary(std::string_view key) const {
  return PackWeights(key, 0, 128);
}

WideKeySummary PortableKeyOrder::SummaryAgainst(
    std::string_view key, std::string_view reference) const {
  // Walks both weight lists to where they part. Past kMaxShared shared
  // weights the count stands still and the packed weights begin there:
  // keys that share that many with the reference also share them with each
  // other.
  constexpr unsigned kMaxShared = 127;
  std::size_t key_pos = 0;
  std::size_t reference_pos = 0;
  std::size_t packed_from = 0;
  unsigned shared = 0;
  unsigned key_weight;
  unsigned reference_weight;
  for (;;) {
    if (shared <= kMaxShared) packed_from = key_pos;
    key_weight = NextPrimaryWeight(key, &key_pos);
    reference_weight = NextPrimaryWeight(reference, &reference_pos);
    if (key_weight != reference_weight || key_weight == 0) break;
    ++shared;
  }
  if (shared > kMaxShared) shared = kMaxShared;
  // Below the reference, the more a key shares the higher it sorts; above
  // it, the lower. Weight 0 stands for a list that has ended.
  enum Side : unsigned { kBelow = 0, kSame = 1, kAbove = 2 };
  const unsigned side = key_weight < reference_weight   ? kBelow
                        : key_weight > reference_weight ? kAbove
                                                        : kSame;
  const unsigned shared_code = side == kAbove ? kMaxShared - shared : shared;
  return static_cast<WideKeySummary>(side) << 126 |
         static_cast<WideKeySummary>(shared_code) << 119 |
         PackWeights(key, packed_from, 119);
}

std::uint64_t PortableKeyOrder::Summary(std::string_view key) const {
  return static_cast<std::uint64_t>(WideSummary(key) >> 64);
}

const PortableKeyOrder& PortableKeyOrder::Instance() {
  static const PortableKeyOrder instance;
  return instance;
}

}  // namespace mlfsort
