#include "app/logic/output_choice.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "app/logic/filter_patterns.h"
#include "common/string_table.h"

namespace kelvor {

std::size_t FileNameOffset(std::string_view path) {
  const auto sep = path.find_last_of("\\/");
  return sep == std::string_view::npos ? 0 : sep + 1;
}

std::string ProposeOutputName(std::string_view inputPath, std::string_view previousOutput) {
  if (previousOutput.empty()) {
    // Cut at the last '.' of the file-name part; a '.' in a directory
    // name is not an extension.
    std::string name(inputPath);
    const auto stop = name.find_last_of("\\/.");
    if (stop != std::string::npos && name[stop] == '.') name.resize(stop);
    return name;
  }
  std::string name(previousOutput.substr(0, FileNameOffset(previousOutput)));
  const std::string_view inputName = inputPath.substr(FileNameOffset(inputPath));
  name += inputName.substr(0, inputName.find('.'));
  return name;
}

std::string_view DefaultExtension(OutputFormat format) {
  switch (format) {
    case OutputFormat::Ts: return "TS";
    case OutputFormat::M2ts: return "MTS";
    default: return "MPG";
  }
}

namespace {

constexpr OutputFormat kAllFormats[] = {OutputFormat::ProgramStream, OutputFormat::Ts, OutputFormat::M2ts,
                                        OutputFormat::Dvd};

}  // namespace

bool IsExtensionOf(std::string_view extension, OutputFormat format) {
  if (format == OutputFormat::Dvd) return FilterEntryHasExtension(LoadString(StringId::DvdOutputFilter), 0, extension);
  return FilterEntryHasExtension(LoadString(StringId::OutputFilter), FilterIndexOf(format), extension);
}

std::string WithFilterExtension(std::string path, OutputFormat format) {
  const std::size_t nameOffset = FileNameOffset(path);
  if (nameOffset == path.size()) return path;
  const std::string_view extension = ExtensionOf(path);
  const bool hasExtension = !extension.empty();
  const std::size_t dot = path.size() - extension.size() - 1;
  if (hasExtension && IsExtensionOf(extension, format)) return path;
  const bool ofAnotherFormat =
      hasExtension && std::any_of(std::begin(kAllFormats), std::end(kAllFormats),
                                  [extension](OutputFormat f) { return IsExtensionOf(extension, f); });
  const bool lowerCase = ofAnotherFormat && std::none_of(extension.begin(), extension.end(), [](char c) {
                           return std::isupper(static_cast<unsigned char>(c)) != 0;
                         });
  if (ofAnotherFormat) {
    path.resize(dot + 1);
  } else {
    path += '.';
  }
  for (const char c : DefaultExtension(format)) {
    path += lowerCase ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
  }
  return path;
}

OutputFormat FormatFromFilterIndex(int index) {
  switch (index) {
    case 1: return OutputFormat::Ts;
    case 2: return OutputFormat::M2ts;
    case 3: return OutputFormat::Dvd;
    default: return OutputFormat::ProgramStream;
  }
}

int FilterIndexOf(OutputFormat format) {
  switch (format) {
    case OutputFormat::Ts: return 1;
    case OutputFormat::M2ts: return 2;
    case OutputFormat::Dvd: return 3;
    default: return 0;
  }
}

std::string OutputWildcard(PatternCase patternCase) {
  return WildcardFromFilter(LoadString(StringId::OutputFilter), patternCase) + '|' +
         WildcardFromFilter(LoadString(StringId::DvdOutputFilter), patternCase);
}

OutputFormat OutputChoice::dialogFormat(Codec video) {
  if (!format_) format_ = IsNalVideo(video) ? OutputFormat::M2ts : OutputFormat::ProgramStream;
  return *format_;
}

std::string OutputChoice::accept(std::string_view dialogPath, OutputFormat chosen) {
  format_ = chosen;
  outputPath_ = WithFilterExtension(std::string(dialogPath), chosen);
  return outputPath_;
}

}  // namespace kelvor
