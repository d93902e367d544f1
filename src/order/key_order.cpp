#include "order/key_order.h"

#include <algorithm>
#include <array>
#include <bit>
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

inline std::uint64_t LoadChunk(std::string_view key, std::size_t pos) {
  std::uint64_t chunk;
  std::memcpy(&chunk, key.data() + pos, sizeof chunk);
  return chunk;
}

// Length of the leading run of identical bytes, eight at a time: keys in one
// file typically share long path prefixes. May stop short of the run's end.
std::size_t IdenticalChunksLength(std::string_view a, std::string_view b) {
  const std::size_t limit = a.size() < b.size() ? a.size() : b.size();
  std::size_t pos = 0;
  while (pos + sizeof(std::uint64_t) <= limit &&
         LoadChunk(a, pos) == LoadChunk(b, pos)) {
    pos += sizeof(std::uint64_t);
  }
  return pos;
}

// Whether the eight bytes of `a` and of `b` are the same or the same
// letter in the other case: where only the case bit differs, both bytes
// must be letters, that is the folded byte lies in 'a'..'z' (and below
// 128), tested byte by byte with no borrow or carry between bytes.
inline bool SameLettersChunk(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  constexpr std::uint64_t kCaseBit = 0x2020202020202020u;
  const std::uint64_t differ = a ^ b;
  if (differ == 0) return true;
  if ((differ & ~kCaseBit) != 0) return false;
  const std::uint64_t folded = (a | kCaseBit) & ~kHigh;
  const std::uint64_t from_a = ((folded | kHigh) - 'a' * kOnes) & kHigh;
  const std::uint64_t to_z = (('z' | 0x80) * kOnes - folded) & kHigh;
  const std::uint64_t letters = from_a & to_z & ~a;
  return ((differ << 2) & ~letters) == 0;
}

// Length of the leading run of bytes that are the same in both keys or
// the same letter in the other case, eight at a time: a file's keys repeat
// in other cases. May stop short of the run's end.
std::size_t SameLettersChunksLength(std::string_view a, std::string_view b) {
  const std::size_t limit = a.size() < b.size() ? a.size() : b.size();
  std::size_t pos = 0;
  while (pos + sizeof(std::uint64_t) <= limit &&
         SameLettersChunk(LoadChunk(a, pos), LoadChunk(b, pos))) {
    pos += sizeof(std::uint64_t);
  }
  return pos;
}

// How many leading bytes of the eight at `pos` are the same in `a` and
// `b`, which must differ somewhere among them.
inline std::size_t IdenticalBytesInChunk(std::string_view a, std::string_view b,
                                         std::size_t pos) {
  const std::uint64_t differ = LoadChunk(a, pos) ^ LoadChunk(b, pos);
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(differ)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(differ)) / 8;
  }
}

// Length of the leading run of identical bytes, exactly.
std::size_t SameBytesLength(std::string_view a, std::string_view b) {
  const std::size_t limit = a.size() < b.size() ? a.size() : b.size();
  std::size_t pos = IdenticalChunksLength(a, b);
  if (pos + sizeof(std::uint64_t) <= limit) {
    return pos + IdenticalBytesInChunk(a, b, pos);
  }
  while (pos < limit && a[pos] == b[pos]) ++pos;
  return pos;
}

unsigned WeightedBytesIn(std::string_view bytes) {
  unsigned count = 0;
  for (const char byte : bytes) {
    count += kPrimaryWeight[static_cast<unsigned char>(byte)] != 0;
  }
  return count;
}

// A bit code and its length.
struct Code {
  std::uint16_t bits;
  std::uint8_t length;
};

// The characters label keys are mostly made of, which get a short code of
// their own; the other weights share short codes in groups.
constexpr std::string_view kOwnCodeAscii =
    " \"*,./:_0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kShortCodeBits = 6;
constexpr unsigned kMaxGroup = 16;
constexpr unsigned kLastWeight = kWeightedAsciiInOrder.size() + 128;

constexpr std::array<bool, kLastWeight + 1> MakeOwnCodeWeights() {
  std::array<bool, kLastWeight + 1> own{};
  for (const char ascii : kOwnCodeAscii) {
    own[kPrimaryWeight[static_cast<unsigned char>(ascii)]] = true;
  }
  return own;
}

// The code of each first-level weight, one that sorts as the weight does
// and that no other code begins with: a 6-bit short code, and for a weight
// without one of its own, its place among the (at most 16) consecutive
// weights that share the short code. Short code 0 is left to "no more".
// Common label text thus takes 6 bits a character, the rest 9 or 10.
constexpr std::array<Code, kLastWeight + 1> MakeCodesByWeight() {
  constexpr std::array<bool, kLastWeight + 1> own = MakeOwnCodeWeights();
  std::array<Code, kLastWeight + 1> codes{};
  unsigned short_code = 1;
  for (unsigned first = 1; first <= kLastWeight; ++short_code) {
    unsigned end = first + 1;
    while (!own[first] && end <= kLastWeight && !own[end] &&
           end - first < kMaxGroup) {
      ++end;
    }
    const int place_bits = std::bit_width(end - first - 1);
    for (unsigned weight = first; weight < end; ++weight) {
      codes[weight] = {static_cast<std::uint16_t>(short_code << place_bits |
                                                  (weight - first)),
                       static_cast<std::uint8_t>(kShortCodeBits + place_bits)};
    }
    first = end;
  }
  return codes;
}

constexpr std::array<Code, kLastWeight + 1> kCodeByWeight = MakeCodesByWeight();
// Short codes ascend with the weights: the last weight's must fit.
static_assert(kCodeByWeight[kLastWeight].bits >>
              (kCodeByWeight[kLastWeight].length - kShortCodeBits) <
              (1u << kShortCodeBits));

// The code of each byte's first-level weight; no bits at all for a
// tie-breaker byte.
constexpr std::array<Code, 256> MakeWeightCodes() {
  std::array<Code, 256> codes{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (kPrimaryWeight[byte] != 0) {
      codes[byte] = kCodeByWeight[kPrimaryWeight[byte]];
    }
  }
  return codes;
}

constexpr std::array<Code, 256> kWeightCode = MakeWeightCodes();

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

// The 6-bit code of each byte whose weight has a short code of its own,
// and kNoOwnCode for the others (tie-breakers, and bytes whose code is
// longer).
constexpr std::uint8_t kNoOwnCode = 0x80;
constexpr std::array<std::uint8_t, 256> MakeOwnCodes() {
  std::array<std::uint8_t, 256> codes{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    codes[byte] = kWeightCode[byte].length == kShortCodeBits
                      ? static_cast<std::uint8_t>(kWeightCode[byte].bits)
                      : kNoOwnCode;
  }
  return codes;
}
constexpr std::array<std::uint8_t, 256> kOwnCode = MakeOwnCodes();

// Bits packed one after another, the first in the most significant, up to
// `total` bits.
class BitPacker {
 public:
  BitPacker(std::uint64_t lead, int lead_bits, int total)
      : packed_(lead), bits_(lead_bits), total_(total) {}

  // Appends the low `length` bits of `code` (at most 56), cut where the
  // total runs out; false once it has.
  bool Append(std::uint64_t code, int length) {
    if (bits_ + length >= total_) {
      const int fits = total_ - bits_;
      packed_ = packed_ << fits | code >> (length - fits);
      bits_ = total_;
      return false;
    }
    packed_ = packed_ << length | code;
    bits_ += length;
    return true;
  }

  // The bits so far, 0 filling the rest of the total.
  WideKeySummary Result() const {
    // Nothing packed leaves 0, which a shift by all 128 bits would not.
    return bits_ == 0 ? 0 : packed_ << (total_ - bits_);
  }

 private:
  WideKeySummary packed_;
  int bits_;
  int total_;
};

// `lead` (`lead_bits` long) followed by the first-level weights of `key`
// in weight codes, the first in the most significant bits, `total_bits` in
// all; 0 fills the rest, and the last code is cut where the bits run out,
// which keeps the order of whatever fits. Table-driven: eight bytes at a
// time where all of them have a code of their own, as in most label text,
// else a byte at a time.
WideKeySummary PackWeights(std::string_view key, std::uint64_t lead,
                           int lead_bits, int total_bits) {
  BitPacker packer(lead, lead_bits, total_bits);
  const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
  std::size_t pos = 0;
  while (pos < key.size()) {
    if (pos + 8 <= key.size()) {
      std::uint64_t chunk = 0;
      unsigned no_own_code = 0;
      for (int at = 0; at < 8; ++at) {
        const std::uint8_t code = kOwnCode[bytes[pos + at]];
        no_own_code |= code;
        chunk = chunk << kShortCodeBits | code;
      }
      if ((no_own_code & kNoOwnCode) == 0) {
        if (!packer.Append(chunk, 8 * kShortCodeBits)) return packer.Result();
        pos += 8;
        continue;
      }
    }
    const Code code = kWeightCode[bytes[pos++]];
    if (code.length != 0 && !packer.Append(code.bits, code.length)) {
      return packer.Result();
    }
  }
  return packer.Result();
}

}  // namespace

int PortableKeyOrder::Compare(std::string_view a, std::string_view b) const {
  // A position holding the same byte in both keys, or two letters of equal
  // weight, adds the same to both keys' levels and is passed over. The first
  // position with two different weights decides the first level at once;
  // from the first position where a tie-breaker differs, both levels are
  // compared in full.
  const std::size_t limit = a.size() < b.size() ? a.size() : b.size();
  std::size_t pos = SameLettersChunksLength(a, b);
  // Keys that tie in their summaries are most often equal: the last eight
  // bytes, overlapping the ones before, tell that at once.
  constexpr std::size_t kChunk = sizeof(std::uint64_t);
  if (a.size() == b.size() && a.size() >= kChunk && pos + kChunk > limit &&
      SameLettersChunk(LoadChunk(a, a.size() - kChunk),
                       LoadChunk(b, b.size() - kChunk))) {
    return 0;
  }
  // The chunk that ended the run holds a difference: its identical lead is
  // passed over at once, since where keys part varies from pair to pair and
  // a byte loop would mispredict its exit every time.
  if (pos + kChunk <= limit) pos += IdenticalBytesInChunk(a, b, pos);
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
  return PackWeights(key, 0, 0, 128);
}

WideKeySummary PortableKeyOrder::SummaryAgainst(
    std::string_view key, std::string_view reference) const {
  constexpr unsigned kMaxShared = 127;
  // The shared lead: bytes that are the same in both keys are the same
  // weights, so they are passed over eight at a time and counted; a lead of
  // more than kMaxShared weights is walked again to where the count stops.
  std::size_t key_pos = SameBytesLength(key, reference);
  std::size_t reference_pos = key_pos;
  unsigned shared = WeightedBytesIn(key.substr(0, key_pos));
  if (shared > kMaxShared) {
    key_pos = 0;
    for (shared = 0; shared < kMaxShared; ++shared) {
      NextPrimaryWeight(key, &key_pos);
    }
    reference_pos = key_pos;
  }
  // Walks both weight lists on to where they part (bytes that differ may
  // still weigh the same). Past kMaxShared shared weights the count stands
  // still and the packed weights begin there: keys that share that many
  // with the reference also share them with each other.
  std::size_t packed_from = key_pos;
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
  return PackWeights(key.substr(packed_from), side << 7 | shared_code, 9,
                     kSummaryAgainstBits)
         << (128 - kSummaryAgainstBits);
}

bool PortableKeyOrder::Equal(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  // Keys are equal exactly when they are equal ignoring ASCII letter case:
  // eight bytes at a time, the last eight overlapping the ones before.
  constexpr std::size_t kChunk = sizeof(std::uint64_t);
  if (a.size() < kChunk) {
    for (std::size_t pos = 0; pos < a.size(); ++pos) {
      const unsigned folded = ByteAt(a, pos) | 0x20u;
      if (a[pos] != b[pos] && ((ByteAt(a, pos) ^ ByteAt(b, pos)) != 0x20 ||
                               folded < 'a' || folded > 'z')) {
        return false;
      }
    }
    return true;
  }
  for (std::size_t pos = 0; pos + kChunk < a.size(); pos += kChunk) {
    if (!SameLettersChunk(LoadChunk(a, pos), LoadChunk(b, pos))) return false;
  }
  return SameLettersChunk(LoadChunk(a, a.size() - kChunk),
                          LoadChunk(b, b.size() - kChunk));
}

std::uint64_t PortableKeyOrder::Fingerprint(std::string_view key) const {
  // Equal keys are the keys equal but for ASCII letter case, which setting
  // bit 5 of every byte folds. The first and the last eight bytes and the
  // length are enough to tell most keys of a file apart.
  constexpr std::uint64_t kFold = 0x2020202020202020u;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (key.size() >= sizeof(std::uint64_t)) {
    first = LoadChunk(key, 0);
    last = LoadChunk(key, key.size() - sizeof(std::uint64_t));
  } else if (!key.empty()) {
    std::memcpy(&first, key.data(), key.size());
  }
  std::uint64_t hash = ((first | kFold) ^ key.size()) * kHashMultiplier;
  hash = (hash ^ (last | kFold) ^ (hash >> 29)) * kHashMultiplier;
  return hash ^ (hash >> 32);
}

std::uint64_t PortableKeyOrder::Summary(std::string_view key) const {
  return static_cast<std::uint64_t>(WideSummary(key) >> 64);
}

const PortableKeyOrder& PortableKeyOrder::Instance() {
  static const PortableKeyOrder instance;
  return instance;
}

}  // namespace mlfsort
