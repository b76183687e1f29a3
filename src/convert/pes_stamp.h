#pragma once
// The time stamps of a PES packet travel with its payload: the driver hands
// them to the stream's handler with the packet's first bytes, and the
// handler gives the stamp to the first unit (audio frame, picture, access
// unit) that starts in the packet.
#include <cstdint>

#include "common/ts_packet.h"

namespace kelvor {

struct PesStamp {
  std::uint32_t pts = 0;
  bool ptsValid = false;
  std::uint32_t dts = 0;
  bool dtsValid = false;

  static constexpr PesStamp Of(const PesStart& pes) { return {pes.pts, pes.ptsValid, pes.dts, pes.dtsValid}; }
};

// One stream's stamp of the PES packet being read, until a unit takes it.
class StampSlot {
 public:
  // A new PES packet: its stamp replaces one that no unit took.
  void Arrive(const PesStamp& s) {
    pts_ = s.pts;
    open_ = s.ptsValid;
  }
  // What a unit that starts now would be given.
  std::uint32_t pts() const { return pts_; }
  bool open() const { return open_; }
  // A unit that starts in the packet takes the stamp. True when it was
  // still there (this call placed it).
  bool Take() {
    const bool was = open_;
    open_ = false;
    return was;
  }
  void Reset() { *this = StampSlot{}; }

 private:
  std::uint32_t pts_ = 0;
  bool open_ = false;
};

}  // namespace kelvor
