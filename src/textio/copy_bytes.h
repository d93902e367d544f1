// Copying the bytes of a line: label files are mostly lines of a few bytes,
// for which the call to the library's copy costs more than the copy.

#ifndef MLFSORT_TEXTIO_COPY_BYTES_H_
#define MLFSORT_TEXTIO_COPY_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mlfsort {

// Copies the first and the last sizeof(Word) of `size` bytes, which cover
// them all for a size from sizeof(Word) to twice that.
template <typename Word>
inline void CopyHeadAndTail(unsigned char* out, const unsigned char* in,
                            std::size_t size) {
  Word head;
  Word tail;
  std::memcpy(&head, in, sizeof head);
  std::memcpy(&tail, in + size - sizeof tail, sizeof tail);
  std::memcpy(out, &head, sizeof head);
  std::memcpy(out + size - sizeof tail, &tail, sizeof tail);
}

// Copies `size` bytes from `from` to `to` (the two must not overlap): up to
// 16 bytes by two loads and two stores of a fixed size, which may cover the
// same bytes twice; more by the library.
inline void CopyBytes(void* to, const void* from, std::size_t size) {
  auto* const out = static_cast<unsigned char*>(to);
  const auto* const in = static_cast<const unsigned char*>(from);
  if (size > 16) {
    std::memcpy(out, in, size);
  } else if (size >= 8) {
    CopyHeadAndTail<std::uint64_t>(out, in, size);
  } else if (size >= 4) {
    CopyHeadAndTail<std::uint32_t>(out, in, size);
  } else if (size > 0) {
    const unsigned char first = in[0];
    const unsigned char middle = in[size / 2];
    const unsigned char last = in[size - 1];
    out[0] = first;
    out[size / 2] = middle;
    out[size - 1] = last;
  }
}

}  // namespace mlfsort

#endif  // MLFSORT_TEXTIO_COPY_BYTES_H_
