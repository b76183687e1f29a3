#pragma once
// convert's cut options: --cut START-END and --keep START-END (repeatable),
// --cuts FILE|auto and --cut-round in|out|nearest. The spans are checked on
// the command line; a cut file is read for each input once its scan tells
// the frame rate its marks may count in.
#include <string>
#include <vector>

#include "common/cut_list.h"

namespace kelvor::cli {

class CutOptions {
 public:
  enum class Take { NotMine, Taken, Bad };
  // When argv[i] is a cut option, takes it and its value (moving i on);
  // Bad with `error` set when the value is not one.
  Take Parse(int argc, char** argv, int& i, std::string& error);
  // After the last option: the spans given together; false with `error`.
  [[nodiscard]] bool Check(std::string& error);

  bool given() const { return !spans_.empty() || !file_.empty() || auto_; }
  // The cut file for `input` counts frames (a marks file): its frame rate is needed.
  bool CountsFrames(const std::string& input) const;
  CutRounding rounding() const { return rounding_; }
  // The cut list for `input`, whose video runs at `framesPerSecond`: the
  // spans given, or those of the cut file (with --cuts auto: the one beside
  // the input, none when there is none; `file` names it). False with the
  // message naming the file and the line.
  [[nodiscard]] bool ListFor(const std::string& input, double framesPerSecond, CutList& list,
                             std::string& file, std::string& error) const;

 private:
  std::vector<std::pair<bool, CutSpan>> spans_;  // kept (true) or cut, in the order given
  std::string file_;
  bool auto_ = false;
  CutRounding rounding_ = CutRounding::Out;
};

}  // namespace kelvor::cli
