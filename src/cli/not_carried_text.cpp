#include "cli/not_carried_text.h"

#include <cstdio>

#include "cli/json_writer.h"
#include "scan/stream_codec.h"

namespace kelvor::cli {
namespace {

std::string OrNull(const char* text) { return text != nullptr && *text != '\0' ? JsonString(text) : "null"; }

}  // namespace

std::string NotCarriedText(const ScanSummary::NotCarried& n, const char* what) {
  char pid[16];
  std::snprintf(pid, sizeof pid, "0x%04X", n.pid);
  std::string about;
  const auto add = [&about](const std::string& part) {
    if (part.empty()) return;
    about += (about.empty() ? "" : ", ") + part;
  };
  if (n.codec != Codec::None) add(CodecName(n.codec));
  add(n.found.data());
  if (n.language[0] != '\0') add(std::string("[") + n.language.data() + "]");
  if (const char* type = AudioTypeName(n.audioType)) add(type);
  if (n.hearingImpaired) add("hard of hearing");
  return std::string("PID ") + pid + (about.empty() ? "" : " (" + about + ")") + " " + what + ": " + n.reason.data();
}

std::string NotCarriedJson(const ScanSummary::NotCarried& n) {
  std::string json = "{\"pid\": " + std::to_string(n.pid);
  json += ", \"stream_type\": " + (n.streamType != 0 ? std::to_string(n.streamType) : std::string("null"));
  json += ", \"kind\": " + OrNull(n.codec != Codec::None ? CodecKind(n.codec) : nullptr);
  json += ", \"language\": " + OrNull(n.language.data());
  json += ", \"audio_type\": " + OrNull(AudioTypeName(n.audioType));
  if (IsSubtitleCodec(n.codec)) json += std::string(", \"hearing_impaired\": ") + (n.hearingImpaired ? "true" : "false");
  json += ", \"found\": " + OrNull(n.found.data());
  json += ", \"reason\": " + JsonString(n.reason.data()) + "}";
  return json;
}

std::string NotCarriedJsonArray(const ScanSummary& summary, const std::string& indent) {
  if (summary.notCarriedCount == 0) return "[]";
  std::string json = "[";
  for (std::uint32_t k = 0; k < summary.notCarriedCount; ++k) {
    json += (k ? ",\n" : "\n") + indent + "  " + NotCarriedJson(summary.notCarried[k]);
  }
  return json + "\n" + indent + "]";
}

}  // namespace kelvor::cli
