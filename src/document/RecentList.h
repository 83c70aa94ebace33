// The photos opened last through the open dialog, newest first, and the
// file Recent.lst that keeps them between runs: one path a line, each line
// ended by CR LF, nothing else in the file.
#pragma once

#include <string>
#include <vector>

namespace velmora {

class RecentList {
 public:
  static constexpr int kMaxEntries = 9;
  static constexpr const char* kFileName = "Recent.lst";

  const std::vector<std::string>& Entries() const { return entries_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  void Clear() { entries_.clear(); }

  // A path already in the list (compared as exact, case-sensitive text)
  // changes nothing, not even its place. Otherwise it goes to the top and
  // entries after the ninth are dropped.
  void AddToRecent(const std::string& path);

  // Replaces the list with the file's lines. A missing or unreadable file
  // gives an empty list; empty lines and lines that cannot be paths
  // (control characters) are skipped; at most nine entries are kept.
  // Lines may end in CR LF, LF or CR.
  void Load(const std::string& file);
  // Writes the list atomically; false with the reason in `error`.
  bool Save(const std::string& file, std::string& error) const;

  // The file's content for the present list.
  std::string Serialize() const;
  void Parse(const std::string& content);

 private:
  std::vector<std::string> entries_;
};

}  // namespace velmora
