#include "document/RecentList.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "document/files/AtomicFile.h"

namespace velmora {

namespace {

// A hand-edited or damaged file must not put a line into the list that no
// photo can have as its name: the list holds full paths (absolute), as
// UTF-8 text without control characters.
bool CanBePath(const std::string& line) {
  if (line.empty() || line.front() != '/') return false;
  std::size_t i = 0;
  while (i < line.size()) {
    const auto u = static_cast<unsigned char>(line[i]);
    if (u < 0x20 || u == 0x7F) return false;
    int follow = 0;
    if (u < 0x80)
      follow = 0;
    else if (u >= 0xC2 && u <= 0xDF)
      follow = 1;
    else if (u >= 0xE0 && u <= 0xEF)
      follow = 2;
    else if (u >= 0xF0 && u <= 0xF4)
      follow = 3;
    else
      return false;
    if (i + follow >= line.size()) return false;  // cut short
    for (int k = 1; k <= follow; ++k)
      if ((static_cast<unsigned char>(line[i + k]) & 0xC0) != 0x80) return false;
    i += 1 + follow;
  }
  return true;
}

// Far more than any path; a garbled file of one huge line is not read
// into memory as an entry.
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxFile = 1 << 20;

}  // namespace

void RecentList::AddToRecent(const std::string& path) {
  if (std::find(entries_.begin(), entries_.end(), path) != entries_.end()) return;
  entries_.insert(entries_.begin(), path);
  if (entries_.size() > static_cast<std::size_t>(kMaxEntries)) entries_.resize(kMaxEntries);
}

void RecentList::Parse(const std::string& content) {
  entries_.clear();
  std::size_t i = 0;
  while (i < content.size() && entries_.size() < static_cast<std::size_t>(kMaxEntries)) {
    std::size_t end = content.find_first_of("\r\n", i);
    if (end == std::string::npos) end = content.size();
    if (end - i <= kMaxLine) {
      std::string line = content.substr(i, end - i);
      if (CanBePath(line)) entries_.push_back(std::move(line));
    }
    i = end;
    if (i < content.size() && content[i] == '\r') ++i;
    if (i < content.size() && content[i] == '\n') ++i;
  }
}

void RecentList::Load(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    entries_.clear();
    return;
  }
  std::string content;
  content.resize(kMaxFile);
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(in.gcount()));
  Parse(content);
}

std::string RecentList::Serialize() const {
  std::string out;
  for (const auto& e : entries_) {
    out += e;
    out += "\r\n";
  }
  return out;
}

bool RecentList::Save(const std::string& file, std::string& error) const {
  const std::string content = Serialize();
  return WriteFileAtomically(file, content.data(), content.size(), error);
}

}  // namespace velmora
