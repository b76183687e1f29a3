#include "cli/batch_plan.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "io/file_identity.h"
#include "io/file_names.h"

namespace kelvor::cli {
namespace {

namespace fs = std::filesystem;

std::string NameWithoutExtension(const std::string& input) {
  std::string name = Utf8OfPath(PathOfUtf8(input).filename());
  if (const auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

const char* ExtensionOf(OutputFormat f) {
  switch (f) {
    case OutputFormat::Ts: return "ts";
    case OutputFormat::M2ts: return "m2ts";
    case OutputFormat::Dvd: return "vob";
    case OutputFormat::Matroska: return "mkv";
    default: return "mpg";
  }
}

std::string Folded(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::vector<std::string> UniqueInputs(const std::vector<const char*>& paths) {
  std::vector<std::string> inputs;
  std::vector<std::optional<FileIdentity>> identities;
  for (const char* path : paths) {
    const std::optional<FileIdentity> identity = IdentityOfPath(path);
    bool again = false;
    for (std::size_t k = 0; k < inputs.size() && !again; ++k) {
      // A path that names nothing is the same only when written the same.
      again = identity ? identities[k] == identity : !identities[k] && inputs[k] == path;
    }
    if (again) {
      std::fprintf(stderr, "kelvor-cli convert: '%s' is named more than once; it is converted once\n", path);
      continue;
    }
    inputs.emplace_back(path);
    identities.push_back(identity);
  }
  return inputs;
}

std::string BatchOutputPath(const std::string& dir, const std::string& input, OutputFormat format) {
  return Utf8OfPath(PathOfUtf8(dir) / PathOfUtf8(NameWithoutExtension(input) + "." + ExtensionOf(format)));
}

bool OutputNamesCollide(const std::vector<std::string>& inputs) {
  bool collide = false;
  for (std::size_t a = 0; a < inputs.size(); ++a) {
    const std::string name = Folded(NameWithoutExtension(inputs[a]));
    for (std::size_t b = a + 1; b < inputs.size(); ++b) {
      if (Folded(NameWithoutExtension(inputs[b])) != name) continue;
      std::fprintf(stderr, "kelvor-cli convert: '%s' and '%s' would both be written as '%s.*'\n",
                   inputs[a].c_str(), inputs[b].c_str(), NameWithoutExtension(inputs[a]).c_str());
      collide = true;
    }
  }
  return collide;
}

int MakeOutputFolder(const std::string& dir) {
  std::error_code ec;
  const fs::path path = PathOfUtf8(dir);
  if (fs::create_directory(path, ec)) return 0;
  if (ec) return ec.value();
  // It existed: a folder, or a file in the way.
  return fs::is_directory(path, ec) ? 0 : ENOTDIR;
}

}  // namespace kelvor::cli
