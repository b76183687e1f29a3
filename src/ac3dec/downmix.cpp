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
  for (std::size_t n = 0; n < 256; ++n) {
    const Q24 f = lfe ? m(lfe[n], kLfeGain) : 0;
    Q24 l = 0;
    Q24 r = 0;
    switch (acmod) {
      case 0:
      case 2:
        l = add(ch[0][n], f);
        r = add(ch[1][n], f);
        break;
      case 1:
        l = r = add(ch[0][n], f);
        break;
      case 3: {  // L, C, R
        const Q24 c = add(m(ch[1][n], kSideOf3), f);
        l = add(m(ch[0][n], kFrontOf3), c);
        r = add(m(ch[2][n], kFrontOf3), c);
        break;
      }
      case 4: {  // L, R, S
        const Q24 s = m(ch[2][n], kSideOf3);
        l = add(sub(m(ch[0][n], kFrontOf3), s), f);
        r = add(add(m(ch[1][n], kFrontOf3), s), f);
        break;
      }
      case 5: {  // L, C, R, S
        const Q24 c = add(m(ch[1][n], kSideOf4), f);
        const Q24 s = m(ch[3][n], kSideOf4);
        l = sub(add(m(ch[0][n], kSideOf3), c), s);
        r = add(add(m(ch[2][n], kSideOf3), c), s);
        break;
      }
      case 6: {  // L, R, SL, SR
        const Q24 s = m(add(ch[2][n], ch[3][n]), kSideOf4);
        l = add(sub(m(ch[0][n], kSideOf3), s), f);
        r = add(add(m(ch[1][n], kSideOf3), s), f);
        break;
      }
      default: {  // 7: L, C, R, SL, SR
        const Q24 c = add(m(ch[1][n], kSideOf5), f);
        const Q24 s = m(add(ch[3][n], ch[4][n]), kSideOf5);
        l = sub(add(m(ch[0][n], kFrontOf5), c), s);
        r = add(add(m(ch[2][n], kFrontOf5), c), s);
        break;
      }
    }
    left[n] = l;
    right[n] = r;
  }
}

}  // namespace kelvor::ac3
