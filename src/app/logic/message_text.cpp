#include "app/logic/message_text.h"

#include "common/string_table.h"

namespace kelvor {

MessageKind KindOfMessage(std::string_view text) {
  const std::string_view done = LoadString(StringId::ConversionDone);
  const std::string_view head = done.substr(0, done.find('\r'));
  return text.starts_with(head) ? MessageKind::Report : MessageKind::Error;
}

std::string MessageBoxText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string WildcardFromFilter(std::string_view filter) {
  std::string out;
  std::size_t start = 0;
  while (start < filter.size()) {
    auto end = filter.find('\0', start);
    if (end == std::string_view::npos) end = filter.size();
    if (end == start) break;  // the closing empty entry
    if (!out.empty()) out += '|';
    out += filter.substr(start, end - start);
    start = end + 1;
  }
  return out;
}

}  // namespace kelvor
