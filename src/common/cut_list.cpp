#include "common/cut_list.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kelvor {
namespace {

constexpr std::int64_t kMaxSeconds = 1000LL * 3600;  // far beyond any recording

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whole digits, at most `maxDigits` of them.
std::optional<std::int64_t> Digits(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  std::int64_t v = 0;
  for (const char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The fraction after the point, rounded to ticks.
std::optional<std::int64_t> FractionTicks(std::string_view s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  std::int64_t v = 0;
  std::int64_t scale = 1;
  for (const char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
    scale *= 10;
  }
  return (v * kCutTicksPerSecond + scale / 2) / scale;
}

// Splits "a b c" at runs of blanks.
std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t k = 0;
  while (k < s.size()) {
    while (k < s.size() && (s[k] == ' ' || s[k] == '\t')) ++k;
    const std::size_t begin = k;
    while (k < s.size() && s[k] != ' ' && s[k] != '\t') ++k;
    if (k > begin) words.push_back(s.substr(begin, k - begin));
  }
  return words;
}

std::string LineMessage(std::string_view where, std::string_view unit, std::uint32_t line,
                        std::string_view what) {
  std::string m(where);
  if (line > 0) {
    // Appended piece by piece: " " + std::string made GCC 12 at -O3 warn of
    // an overlap that cannot happen (-Wrestrict).
    m.append(" ").append(unit).append(" ").append(std::to_string(line));
  }
  m += ": ";
  m += what;
  return m;
}

// A marks file line: "H:MM:SS.FF", FF the frame within the second (from 1).
std::optional<std::int64_t> ParseMark(std::string_view text, double framesPerSecond) {
  const auto dot = text.rfind('.');
  if (dot == std::string_view::npos) return ParseCutTime(text);
  const auto whole = ParseCutTime(text.substr(0, dot));
  const auto frame = Digits(text.substr(dot + 1), 3);
  if (!whole || !frame || framesPerSecond <= 0) return std::nullopt;
  const double frames = static_cast<double>(std::max<std::int64_t>(*frame - 1, 0));
  if (frames >= framesPerSecond + 1) return std::nullopt;
  return *whole + std::llround(frames * static_cast<double>(kCutTicksPerSecond) / framesPerSecond);
}

// Sorted by start; the message for the first span that runs backwards or
// into the next.
std::string CheckSpans(std::vector<CutSpan>& spans, std::string_view where, std::string_view unit,
                       const char* kind) {
  for (const CutSpan& s : spans) {
    if (s.end <= s.start) {
      return LineMessage(where, unit, s.line, std::string("the ") + kind + " span " + FormatCutTime(s.start) +
                                            "-" + FormatCutTime(s.end) + " does not end after its start");
    }
  }
  std::stable_sort(spans.begin(), spans.end(),
                   [](const CutSpan& a, const CutSpan& b) { return a.start < b.start; });
  for (std::size_t k = 1; k < spans.size(); ++k) {
    if (spans[k].start < spans[k - 1].end) {
      const CutSpan& later = spans[k].line > spans[k - 1].line ? spans[k] : spans[k - 1];
      const CutSpan& other = &later == &spans[k] ? spans[k - 1] : spans[k];
      return LineMessage(where, unit, later.line,
                         std::string("the ") + kind + " span overlaps the one of " + std::string(unit) + " " +
                             std::to_string(other.line));
    }
  }
  return {};
}

}  // namespace

std::optional<std::int64_t> ParseCutTime(std::string_view text) {
  text = Trim(text);
  std::string_view fraction;
  if (const auto dot = text.find('.'); dot != std::string_view::npos) {
    fraction = text.substr(dot + 1);
    text = text.substr(0, dot);
    if (fraction.empty()) return std::nullopt;
  }
  // Up to three fields; minutes and seconds after a higher field below 60.
  std::int64_t seconds = 0;
  int fields = 0;
  while (true) {
    const auto colon = text.find(':');
    const std::string_view field = text.substr(0, colon);
    const auto v = Digits(field, fields == 0 ? 7 : 2);
    if (!v || (fields > 0 && (*v >= 60 || field.size() != 2))) return std::nullopt;
    seconds = seconds * 60 + *v;
    ++fields;
    if (colon == std::string_view::npos) break;
    if (fields == 3) return std::nullopt;
    text.remove_prefix(colon + 1);
  }
  if (seconds > kMaxSeconds) return std::nullopt;
  std::int64_t ticks = seconds * kCutTicksPerSecond;
  if (!fraction.empty()) {
    const auto f = FractionTicks(fraction);
    if (!f) return std::nullopt;
    ticks += *f;
  }
  return ticks;
}

std::optional<CutSpan> ParseCutSpan(std::string_view text) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto start = ParseCutTime(text.substr(0, dash));
  const auto end = ParseCutTime(text.substr(dash + 1));
  if (!start || !end) return std::nullopt;
  return CutSpan{*start, *end, 0};
}

std::optional<CutRounding> ParseCutRounding(std::string_view text) {
  if (text == "out") return CutRounding::Out;
  if (text == "in") return CutRounding::In;
  if (text == "nearest") return CutRounding::Nearest;
  return std::nullopt;
}

std::string FormatCutTime(std::int64_t ticks) {
  if (ticks == kCutToTheEnd) return "end";
  const bool negative = ticks < 0;
  const std::int64_t ms = ((negative ? -ticks : ticks) + 45) / 90;
  char text[40];
  std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld", negative ? "-" : "",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

CutFileKind CutFileKindOf(std::string_view fileName) {
  std::string name(fileName.substr(fileName.find_last_of("/\\") == std::string_view::npos
                                       ? 0
                                       : fileName.find_last_of("/\\") + 1));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  auto endsWith = [&](std::string_view tail) {
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith(".edl")) return CutFileKind::Edl;
  if (endsWith(".marks") || name == "marks" || name == "marks.vdr") return CutFileKind::Marks;
  return CutFileKind::Spans;
}

std::string CutList::AddFile(std::string_view text, CutFileKind kind, double framesPerSecond,
                             std::string_view name) {
  std::vector<std::int64_t> marks;
  std::vector<std::uint32_t> markLines;
  std::uint32_t line = 0;
  while (!text.empty()) {
    ++line;
    const auto newline = text.find('\n');
    const std::string_view raw = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const std::string_view s = Trim(raw);
    if (s.empty() || s.front() == '#') continue;
    if (s.find('\0') != std::string_view::npos) return LineMessage(name, "line", line, "not a text file");
    const std::vector<std::string_view> words = Words(s);
    switch (kind) {
      case CutFileKind::Edl: {
        // "start end [type]": 0 (skip) and 3 (advert break) are cut; 1 (mute)
        // and 2 (scene marker) leave the picture as it is.
        const auto start = words.size() >= 2 ? ParseCutTime(words[0]) : std::nullopt;
        const auto end = words.size() >= 2 ? ParseCutTime(words[1]) : std::nullopt;
        const auto type = words.size() >= 3 ? Digits(words[2], 1) : std::optional<std::int64_t>(0);
        if (!start || !end || words.size() > 3) {
          return LineMessage(name, "line", line, "expected 'START END TYPE' in seconds, found '" + std::string(s) + "'");
        }
        if (!type || *type > 3) {
          return LineMessage(name, "line", line, "unknown type '" + std::string(words[2]) + "' (0 to 3)");
        }
        if (*type == 0 || *type == 3) AddCut({*start, *end, line});
        break;
      }
      case CutFileKind::Marks: {
        const auto mark = ParseMark(words[0], framesPerSecond);
        if (!mark) return LineMessage(name, "line", line, "expected a mark 'H:MM:SS.FF', found '" + std::string(s) + "'");
        if (!marks.empty() && *mark <= marks.back()) {
          return LineMessage(name, "line", line, "the mark " + FormatCutTime(*mark) + " does not come after the one of line " +
                                             std::to_string(markLines.back()));
        }
        marks.push_back(*mark);
        markLines.push_back(line);
        break;
      }
      case CutFileKind::Spans: {
        const auto span = ParseCutSpan(s);
        if (!span) return LineMessage(name, "line", line, "expected 'START-END', found '" + std::string(s) + "'");
        AddCut({span->start, span->end, line});
        break;
      }
    }
  }
  // Marks pair up: from an odd mark to the even one after it is kept; a
  // last odd mark keeps the rest.
  for (std::size_t k = 0; k < marks.size(); k += 2) {
    AddKeep({marks[k], k + 1 < marks.size() ? marks[k + 1] : kCutToTheEnd, markLines[k]});
  }
  return {};
}

std::string CutList::Finish(std::string_view where, std::string_view unit) {
  if (std::string m = CheckSpans(cuts_, where, unit, "cut"); !m.empty()) return m;
  if (std::string m = CheckSpans(keeps_, where, unit, "kept"); !m.empty()) return m;
  std::vector<CutSpan> all = cuts_;
  // Outside every kept span is removed.
  if (!keeps_.empty()) {
    std::int64_t from = 0;
    for (const CutSpan& k : keeps_) {
      if (k.start > from) all.push_back({from, k.start, k.line});
      from = k.end;
    }
    if (from != kCutToTheEnd) all.push_back({from, kCutToTheEnd, keeps_.back().line});
  }
  std::stable_sort(all.begin(), all.end(), [](const CutSpan& a, const CutSpan& b) { return a.start < b.start; });
  spans_.clear();
  for (const CutSpan& s : all) {
    if (!spans_.empty() && s.start <= spans_.back().end) {
      spans_.back().end = std::max(spans_.back().end, s.end);
    } else {
      spans_.push_back(s);
    }
  }
  return {};
}

std::string CutList::CheckEnd(std::int64_t duration, std::string_view where, std::string_view unit) const {
  for (const CutSpan& s : spans_) {
    if (s.start >= duration) {
      return LineMessage(where, unit, s.line, "the span from " + FormatCutTime(s.start) +
                                            " begins after the end of the recording (" +
                                            FormatCutTime(duration) + ")");
    }
  }
  return {};
}

}  // namespace kelvor
