#include "app/logic/output_choice.h"

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

std::string WithDefaultExtension(std::string path, OutputFormat format) {
  const std::string_view name = std::string_view(path).substr(FileNameOffset(path));
  if (!name.empty() && name.find('.') == std::string_view::npos) {
    path += '.';
    path += DefaultExtension(format);
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

OutputFormat OutputChoice::dialogFormat(bool videoIsH264) {
  if (!format_) format_ = videoIsH264 ? OutputFormat::M2ts : OutputFormat::ProgramStream;
  return *format_;
}

std::string OutputChoice::accept(std::string_view dialogPath, OutputFormat chosen) {
  format_ = chosen;
  outputPath_ = WithDefaultExtension(std::string(dialogPath), chosen);
  return outputPath_;
}

}  // namespace kelvor
