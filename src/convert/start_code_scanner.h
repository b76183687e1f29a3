#pragma once
// Finds start codes (00 00 01 xx) in an elementary stream that arrives in
// pieces. Zero bytes that may begin a start code are withheld until it is
// known what they begin; each one remembers the time stamp in force when it
// arrived, so that a start code takes the stamp of the first of its last two
// zeros. Withheld bytes left over from an earlier piece are zeros (or the
// prefix 00 00 01) and are written from constant patterns by the caller.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvor {

class StartCodeScanner {
 public:
  // Z0..Z2: zeros seen; SC: prefix complete, the next byte is the start
  // code value; P1, P2: the two MPEG-2 picture header bytes; Stopped: the
  // conversion ends here.
  enum class Phase : std::uint8_t { Z0, Z1, Z2, SC, P1, P2, Stopped };
  struct Stamp {
    std::uint32_t pts = 0;
    bool valid = false;
  };

  void Reset() { *this = StartCodeScanner{}; }
  Phase phase() const { return phase_; }
  void Enter(Phase p) { phase_ = p; }

  // One byte in Z0, Z1 or Z2 with the stamp in force. Returns how many
  // zeros withheld from earlier pieces now join the data before it.
  std::uint32_t Scan(std::uint8_t b, Stamp now) {
    switch (phase_) {
      case Phase::Z0: if (b == 0) { start_ = now; held_ = 1; heldOutside_ = 0; phase_ = Phase::Z1; } return 0;
      case Phase::Z1: if (b == 0) { zero_ = now; held_ = 2; phase_ = Phase::Z2; return 0; } return Restart();
      case Phase::Z2:
        if (b == 0) {  // more than two zeros: the oldest belongs to the data before
          const std::uint32_t r = Release(1);
          ++held_;
          start_ = zero_;
          zero_ = now;
          return r;
        }
        if (b == 1) { held_ = 3; phase_ = Phase::SC; return 0; }
        return Restart();
      default: return 0;
    }
  }

  // In Z0 only a zero followed by a zero (or by the end of the piece) can
  // leave Z0: a lone zero goes to Z1 and straight back, withholding nothing
  // for good. The first index from `from` where a zero is followed by a zero
  // or ends the bytes, or bytes.size(); every byte before it may be skipped.
  static std::size_t NextZeroPair(const std::uint8_t* bytes, std::size_t from, std::size_t n) {
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 17 <= n; i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 1));
      const auto pairs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, zero)) &
                                               _mm_movemask_epi8(_mm_cmpeq_epi8(b, zero)));
      if (pairs != 0) return i + static_cast<std::size_t>(__builtin_ctz(pairs));
    }
    if (n >= 17 && i + 1 < n) {
      // The last 16 pairs in one overlapping block; those before i were seen.
      const std::size_t base = n - 17;
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base + 1));
      const auto pairs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, zero)) &
                                               _mm_movemask_epi8(_mm_cmpeq_epi8(b, zero))) >>
                         (i - base);
      if (pairs != 0) return i + static_cast<std::size_t>(__builtin_ctz(pairs));
      return bytes[n - 1] == 0 ? n - 1 : n;
    }
#endif
    while (i < n) {
      const void* z = std::memchr(bytes + i, 0, n - i);
      if (z == nullptr) return n;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(z) - bytes);
      if (i + 1 == n || bytes[i + 1] == 0) return i;
      i += 2;  // the zero and the non-zero after it: Z0 -> Z1 -> Z0
    }
    return n;
  }

  // The prefix just completed was (partly) withheld from an earlier piece.
  bool straddling() const { return heldOutside_ > 0; }
  // The start code's handler took the withheld bytes.
  void Consume() { held_ = heldOutside_ = 0; }
  // Withheld bytes of the current piece: the pending run ends before them.
  std::uint32_t heldInPiece() const { return held_ - heldOutside_; }
  // The piece ends: what is withheld now comes from an earlier piece.
  void EndPiece() { heldOutside_ = held_; }
  Stamp startCodeStamp() const { return start_; }

 private:
  std::uint32_t Release(std::uint32_t count) {
    const std::uint32_t outside = std::min(count, heldOutside_);
    heldOutside_ -= outside;
    held_ -= count;
    return outside;
  }
  // Not a start code: every withheld byte joins the data.
  std::uint32_t Restart() {
    phase_ = Phase::Z0;
    return Release(held_);
  }

  Phase phase_ = Phase::Z0;
  std::uint32_t held_ = 0;         // withheld bytes (zeros, or 00 00 01 in SC)
  std::uint32_t heldOutside_ = 0;  // of which from earlier pieces
  Stamp start_;                    // in force at the start code's first zero
  Stamp zero_;                     // in force at the latest withheld zero
};

}  // namespace kelvor
