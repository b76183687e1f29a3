#pragma once
// The spans of a recording to leave out of its conversion, as the user
// gives them: --cut and --keep spans, or the cut files recorders and
// advert detectors write next to a recording (an EDL of "start end type"
// lines, a marks file of the parts to keep, or plain START-END lines).
// Times are 90 kHz ticks of the input's video as a player shows it: 0 is
// the first picture the output would start with. Text only: reading the
// files is the caller's.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

inline constexpr std::int64_t kCutTicksPerSecond = 90000;
// The end of a span that runs to the end of the recording.
inline constexpr std::int64_t kCutToTheEnd = std::numeric_limits<std::int64_t>::max();

struct CutSpan {
  std::int64_t start = 0;  // the first tick left out
  std::int64_t end = 0;    // the first tick kept again (kCutToTheEnd: none)
  std::uint32_t line = 0;  // the line (or option) it came from, for messages
};

// How a cut meets the random-access points of the video: outward (nothing
// of the span remains), inward (nothing outside it is lost) or the nearer.
enum class CutRounding : std::uint8_t { Out, In, Nearest };

// "H:MM:SS[.fff]", "M:SS[.fff]" or seconds ("95", "95.5"); nullopt when the
// text is not a time.
std::optional<std::int64_t> ParseCutTime(std::string_view text);
// "START-END" with two such times; nullopt when malformed (not checked for
// order: the list says which line is reversed).
std::optional<CutSpan> ParseCutSpan(std::string_view text);
std::optional<CutRounding> ParseCutRounding(std::string_view text);
// "H:MM:SS.fff", as messages and reports show a time of a cut.
std::string FormatCutTime(std::int64_t ticks);

enum class CutFileKind : std::uint8_t { Edl, Marks, Spans };
// By the name's extension: .edl, .marks (or a file named "marks"), else spans.
CutFileKind CutFileKindOf(std::string_view fileName);

class CutList {
 public:
  // The spans given: removed ones (--cut, an EDL) and kept ones (--keep, a
  // marks file). What is outside every kept span is removed too.
  void AddCut(const CutSpan& span) { cuts_.push_back(span); }
  void AddKeep(const CutSpan& span) { keeps_.push_back(span); }

  // Reads one cut file's text into the list; `framesPerSecond` turns the
  // frame numbers of a marks file into time. The message of the first fault
  // ("NAME line N: ..."), or empty.
  [[nodiscard]] std::string AddFile(std::string_view text, CutFileKind kind, double framesPerSecond,
                                    std::string_view name);

  // Checks the spans given (each one forward, none overlapping another of
  // its kind) and makes the removed spans, in order and merged. The message
  // of the first fault, naming `where` and the line, or empty.
  [[nodiscard]] std::string Finish(std::string_view where, std::string_view unit = "line");
  // A span that begins at or after `duration` ticks cannot be cut: the
  // message naming it, or empty.
  [[nodiscard]] std::string CheckEnd(std::int64_t duration, std::string_view where,
                                     std::string_view unit = "line") const;

  bool empty() const { return spans_.empty(); }
  // After Finish: the spans to remove, in order, none touching another.
  const std::vector<CutSpan>& spans() const { return spans_; }

 private:
  std::vector<CutSpan> cuts_;
  std::vector<CutSpan> keeps_;
  std::vector<CutSpan> spans_;
};

}  // namespace kelvor
