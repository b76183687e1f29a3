#include "matroska/matroska_test_support.h"

#include <algorithm>
#include <fstream>

#include "matroska/matroska_muxer.h"

namespace kelvor::mkv::test {

std::vector<Unit> ReadUnits(const std::filesystem::path& ts) {
  const std::vector<std::uint8_t> data = kelvor::test::ReadFile(ts);
  std::vector<Unit> units;
  std::map<std::uint32_t, std::size_t> open;  // PID -> index of its PES being collected
  for (std::size_t at = 0; at + 188 <= data.size(); at += 188) {
    const std::uint8_t* p = data.data() + at;
    if (p[0] != 0x47) continue;
    const std::uint32_t pid = ((p[1] & 0x1Fu) << 8) | p[2];
    if (pid < 0x100 || pid > 0x1FFE) continue;
    const bool start = (p[1] & 0x40) != 0;
    std::size_t payload = 4;
    bool randomAccess = false;
    if ((p[3] & 0x20) != 0) {
      if (p[4] > 0) randomAccess = (p[5] & 0x40) != 0;
      payload += 1 + p[4];
    }
    if ((p[3] & 0x10) == 0 || payload >= 188) continue;
    if (start) {
      const std::uint8_t* pes = p + payload;
      Unit u;
      u.pid = pid;
      u.key = randomAccess;
      const bool hasPts = (pes[7] & 0x80) != 0;
      u.pts = kNoStamp;
      if (hasPts) {
        u.pts = (static_cast<std::int64_t>(pes[9] & 0x0E) << 29) | (pes[10] << 22) | ((pes[11] & 0xFE) << 14) |
                (pes[12] << 7) | (pes[13] >> 1);
      }
      const std::size_t body = 9 + pes[8];
      u.bytes.assign(pes + body, p + 188);
      open[pid] = units.size();
      units.push_back(std::move(u));
    } else if (const auto it = open.find(pid); it != open.end()) {
      auto& b = units[it->second].bytes;
      b.insert(b.end(), p + payload, p + 188);
    }
  }
  std::int64_t first = INT64_MAX;
  for (const Unit& u : units) {
    if (u.pts != kNoStamp) first = std::min(first, u.pts);
  }
  for (Unit& u : units) {
    if (u.pts != kNoStamp) u.pts -= first;
  }
  return units;
}

std::string Quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

bool Ffmpeg(const std::string& arguments) {
  std::string out;
  return RunCommand("ffmpeg -nostdin -v error -y " + arguments + " 2>&1", &out) == 0 && out.empty();
}

MkvInfoReading MkvInfo(const std::filesystem::path& file) {
  MkvInfoReading r;
  RunCommand("mkvinfo -C " + Quoted(file) + " 2>&1", &r.text);
  std::size_t from = 0;
  for (std::size_t nl; (nl = r.text.find('\n', from)) != std::string::npos; from = nl + 1) {
    const std::string line = r.text.substr(from, nl - from);
    if (line.find("Simple block:") != std::string::npos) {
      ++r.blocks;
      if (line.find("Simple block: key") != std::string::npos) ++r.keyBlocks;
    } else if (line.find("Unknown") != std::string::npos || line.find("arning") != std::string::npos ||
               line.find("rror") != std::string::npos) {
      r.problems += line + "\n";
    }
    if (line.find("+ Cues") != std::string::npos) r.cues = true;
    if (line.find("+ Duration:") != std::string::npos) r.duration = true;
  }
  return r;
}

std::vector<std::string> MkvMergeSummary(const std::filesystem::path& file) {
  const std::string script =
      "import json,sys\n"
      "j=json.load(sys.stdin)\n"
      "print(j['container']['properties'].get('duration',0))\n"
      "for t in j['tracks']:\n"
      "  p=t['properties']\n"
      "  print(p.get('codec_id'), p.get('language'), int(p.get('default_track',0)), int(p.get('forced_track',0)),"
      " p.get('pixel_dimensions','-'), p.get('display_dimensions','-'), int(p.get('flag_visual_impaired',0)),"
      " int(p.get('flag_hearing_impaired',0)))\n";
  const std::filesystem::path py = file.parent_path() / "summary.py";
  std::ofstream(py) << script;
  std::string out;
  RunCommand("mkvmerge -J " + Quoted(file) + " | python3 " + Quoted(py), &out);
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t nl; (nl = out.find('\n', from)) != std::string::npos; from = nl + 1) {
    lines.push_back(out.substr(from, nl - from));
  }
  return lines;
}

namespace {

// One element header: id, size and where its data starts.
struct Element {
  std::uint32_t id = 0;
  std::uint64_t size = 0;
  std::size_t data = 0;
  bool ok = false;
};

Element ReadElement(const std::vector<std::uint8_t>& f, std::size_t at) {
  Element e;
  if (at >= f.size()) return e;
  unsigned idWidth = 1;
  while (idWidth <= 4 && (f[at] & (0x80 >> (idWidth - 1))) == 0) ++idWidth;
  if (idWidth > 4 || at + idWidth >= f.size()) return e;
  for (unsigned i = 0; i < idWidth; ++i) e.id = (e.id << 8) | f[at + i];
  at += idWidth;
  unsigned width = 1;
  while (width <= 8 && (f[at] & (0x80 >> (width - 1))) == 0) ++width;
  if (width > 8 || at + width > f.size()) return e;
  e.size = f[at] & (0xFF >> width);
  for (unsigned i = 1; i < width; ++i) e.size = (e.size << 8) | f[at + i];
  e.data = at + width;
  e.ok = true;
  return e;
}

std::uint64_t ReadUint(const std::vector<std::uint8_t>& f, const Element& e) {
  std::uint64_t v = 0;
  for (std::uint64_t i = 0; i < e.size; ++i) v = (v << 8) | f[e.data + i];
  return v;
}

}  // namespace

CueCheck FollowCues(const std::vector<std::uint8_t>& f) {
  CueCheck check;
  const Element ebml = ReadElement(f, 0);
  const Element segment = ReadElement(f, ebml.data + ebml.size);
  if (!ebml.ok || !segment.ok || segment.id != 0x18538067) return check;
  for (std::size_t at = segment.data; at < f.size();) {
    const Element top = ReadElement(f, at);
    if (!top.ok) break;
    if (top.id == 0x1C53BB6B) {
      for (std::size_t p = top.data; p < top.data + top.size;) {
        const Element point = ReadElement(f, p);
        std::uint64_t track = 0, cluster = 0, relative = 0;
        for (std::size_t q = point.data; q < point.data + point.size;) {
          const Element child = ReadElement(f, q);
          if (child.id == 0xB3) check.lastTime = ReadUint(f, child);
          if (child.id == 0xB7) {
            for (std::size_t r = child.data; r < child.data + child.size;) {
              const Element pos = ReadElement(f, r);
              if (pos.id == 0xF7) track = ReadUint(f, pos);
              if (pos.id == 0xF1) cluster = ReadUint(f, pos);
              if (pos.id == 0xF0) relative = ReadUint(f, pos);
              r = pos.data + pos.size;
            }
          }
          q = child.data + child.size;
        }
        const Element c = ReadElement(f, segment.data + cluster);
        const Element block = ReadElement(f, c.data + relative);
        const bool good = c.ok && c.id == 0x1F43B675 && block.ok && block.id == 0xA3 &&
                          (f[block.data] & 0x7F) == track && (f[block.data + 3] & 0x80) != 0;
        ++(good ? check.good : check.bad);
        p = point.data + point.size;
      }
    }
    at = top.data + top.size;
  }
  return check;
}

std::string DecodeErrors(const std::filesystem::path& file) {
  std::string out;
  RunCommand("ffmpeg -nostdin -v error -i " + Quoted(file) + " -f null - 2>&1", &out);
  return out;
}

}  // namespace kelvor::mkv::test
