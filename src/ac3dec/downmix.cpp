#include "ac3dec/downmix.h"

#include "ac3dec/ac3_math.h"

namespace kelvor::ac3 {

namespace {
inline Q24 m(Q24 a, Q24 k) { return mul_q24(a, k); }
inline Q24 add(Q24 a, Q24 b) { return add_sat_q24(a, b); }
inline Q24 sub(Q24 a, Q24 b) { return sub_sat_q24(a, b); }
}  // namespace

void fold_to_stereo(int acmod, std::span<const Q24* const> ch, const Q24* lfe, std::span<Q24, 256> left,
                    std::span<Q24, 256> right) {
  // One loop per layout, with the LFE term f (0 without an LFE channel).
  const auto fold = [&](auto&& sample) {
    for (std::size_t n = 0; n < 256; ++n) {
      const Q24 f = lfe ? m(lfe[n], kLfeGain) : 0;
      sample(n, f);
    }
  };
  switch (acmod) {
    case 0:
    case 2:
      fold([&](std::size_t n, Q24 f) {
        left[n] = add(ch[0][n], f);
        right[n] = add(ch[1][n], f);
      });
      break;
    case 1:
      fold([&](std::size_t n, Q24 f) { left[n] = right[n] = add(ch[0][n], f); });
      break;
    case 3:  // L, C, R
      fold([&](std::size_t n, Q24 f) {
        const Q24 c = add(m(ch[1][n], kSideOf3), f);
        left[n] = add(m(ch[0][n], kFrontOf3), c);
        right[n] = add(m(ch[2][n], kFrontOf3), c);
      });
      break;
    case 4:  // L, R, S
      fold([&](std::size_t n, Q24 f) {
        const Q24 s = m(ch[2][n], kSideOf3);
        left[n] = add(sub(m(ch[0][n], kFrontOf3), s), f);
        right[n] = add(add(m(ch[1][n], kFrontOf3), s), f);
      });
      break;
    case 5:  // L, C, R, S
      fold([&](std::size_t n, Q24 f) {
        const Q24 c = add(m(ch[1][n], kSideOf4), f);
        const Q24 s = m(ch[3][n], kSideOf4);
        left[n] = sub(add(m(ch[0][n], kSideOf3), c), s);
        right[n] = add(add(m(ch[2][n], kSideOf3), c), s);
      });
      break;
    case 6:  // L, R, SL, SR
      fold([&](std::size_t n, Q24 f) {
        const Q24 s = m(add(ch[2][n], ch[3][n]), kSideOf4);
        left[n] = add(sub(m(ch[0][n], kSideOf3), s), f);
        right[n] = add(add(m(ch[1][n], kSideOf3), s), f);
      });
      break;
    default:  // 7: L, C, R, SL, SR
      fold([&](std::size_t n, Q24 f) {
        const Q24 c = add(m(ch[1][n], kSideOf5), f);
        const Q24 s = m(add(ch[3][n], ch[4][n]), kSideOf5);
        left[n] = sub(add(m(ch[0][n], kFrontOf5), c), s);
        right[n] = add(add(m(ch[2][n], kFrontOf5), c), s);
      });
      break;
  }
}

}  // namespace kelvor::ac3
