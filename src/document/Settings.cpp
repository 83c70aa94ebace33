#include "document/Settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "document/files/AtomicFile.h"

namespace velmora {

namespace {

// No settings file is anywhere near this; a larger one is not Velmora's
// and is replaced as a whole rather than read into memory.
constexpr std::size_t kMaxIniFile = 1 << 20;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// "[Name]" -> "Name"; false for any other line.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// "Key=Value" -> key and value, trimmed; false for lines without '='.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return !key.empty() && key.front() != ';';
}

// A decimal integer with an optional sign, nothing else.
bool ParseInt(const std::string& text, int& out) {
  std::string_view s = Trim(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  int v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (ec != std::errc() || ptr != s.data() + s.size()) return false;
  out = v;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// IniFile

bool IniFile::Load(const std::string& path) {
  lines_.clear();
  newline_ = "\r\n";
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string content(kMaxIniFile + 1, '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(in.gcount()));
  if (content.size() > kMaxIniFile) return false;
  Parse(content);
  return true;
}

void IniFile::Parse(const std::string& content) {
  lines_.clear();
  newline_ = "\r\n";
  bool newlineSeen = false;
  std::size_t i = 0;
  while (i < content.size()) {
    std::size_t end = content.find('\n', i);
    const bool hasNewline = end != std::string::npos;
    if (!hasNewline) end = content.size();
    std::size_t textEnd = end;
    const bool cr = textEnd > i && content[textEnd - 1] == '\r';
    if (cr) --textEnd;
    // The file keeps the line ending it came with.
    if (hasNewline && !newlineSeen) {
      newline_ = cr ? "\r\n" : "\n";
      newlineSeen = true;
    }
    lines_.push_back({content.substr(i, textEnd - i)});
    i = hasNewline ? end + 1 : end;
  }
}

std::string IniFile::Serialize() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l.text;
    out += newline_;
  }
  return out;
}

bool IniFile::Save(const std::string& path, std::string& error) const {
  const std::string content = Serialize();
  return WriteFileAtomically(path, content.data(), content.size(), error);
}

int IniFile::FindSection(const std::string& section) const {
  for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
    std::string_view name;
    if (SectionName(lines_[i].text, name) && EqualsNoCase(name, section)) return i;
  }
  return -1;
}

int IniFile::SectionEnd(int header) const {
  int i = header + 1;
  std::string_view name;
  while (i < static_cast<int>(lines_.size()) && !SectionName(lines_[i].text, name)) ++i;
  return i;
}

int IniFile::FindKey(int header, const std::string& key) const {
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    std::string_view k, v;
    if (KeyValue(lines_[i].text, k, v) && EqualsNoCase(k, key)) return i;
  }
  return -1;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
  const int header = FindSection(section);
  if (header < 0) return fallback;
  const int line = FindKey(header, key);
  if (line < 0) return fallback;
  std::string_view k, v;
  KeyValue(lines_[line].text, k, v);
  return std::string(v);
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  int header = FindSection(section);
  if (header < 0) {
    lines_.push_back({"[" + section + "]"});
    lines_.push_back({key + "=" + value});
    return;
  }
  const int line = FindKey(header, key);
  if (line >= 0) {
    std::string_view k, v;
    KeyValue(lines_[line].text, k, v);
    // An unchanged value keeps its line exactly as it was written.
    if (v != value) lines_[line].text = std::string(k) + "=" + value;
    return;
  }
  // After the section's last non-blank line, so the blank line that
  // separates it from the next section stays in place.
  int insertAt = SectionEnd(header);
  while (insertAt > header + 1 && Trim(lines_[insertAt - 1].text).empty()) --insertAt;
  lines_.insert(lines_.begin() + insertAt, Line{key + "=" + value});
}

// ---------------------------------------------------------------------------
// Settings

Settings::Settings(std::string folder) : folder_(std::move(folder)) {}

void Settings::Load() {
  *this = Settings(folder_);
  ini_.Load(FilePath());
  auto read = [this](const char* key) { return ini_.ReadString(kSection, key, ""); };

  const std::string window = read("Window");
  if (window == "Max") {
    Window = WindowState::Maximized;
    StartMaximized = true;
  } else if (window == "Custom") {
    int l, t, w, h;
    if (ParseInt(read("Left"), l) && ParseInt(read("Top"), t) && ParseInt(read("Width"), w) &&
        ParseInt(read("Height"), h) && w > 0 && h > 0) {
      CustomGeometry = true;
      Left = l;
      Top = t;
      Width = w;
      Height = h;
    }
  }
  if (auto c = ParseColorIdent(read("Color"))) Background = *c;
  Panel = read("Panel") == "Left" ? PanelSide::Left : PanelSide::Right;
  SaveProp = read("SaveProp") != "No";
  const std::string skinable = read("Skinable");
  if (skinable == "Yes")
    Skinable = SkinSupport::Enabled;
  else if (skinable == "No")
    Skinable = SkinSupport::Disabled;
  Skin = read("Skin");
}

bool Settings::Save(std::string& error) {
  auto write = [this](const char* key, const std::string& value) { ini_.WriteString(kSection, key, value); };
  switch (Window) {
    case WindowState::Maximized:
      write("Window", "Max");
      break;
    case WindowState::Normal:
      write("Window", "Custom");
      write("Left", std::to_string(Left));
      write("Top", std::to_string(Top));
      write("Width", std::to_string(Width));
      write("Height", std::to_string(Height));
      break;
    case WindowState::Minimized:
      break;
  }
  write("Color", FormatColorIdent(Background));
  write("Skin", Skin);
  write("Panel", Panel == PanelSide::Left ? "Left" : "Right");
  write("SaveProp", SaveProp ? "Yes" : "No");
  write("Skinable", Skinable == SkinSupport::Disabled ? "No" : "Yes");
  return ini_.Save(FilePath(), error);
}

std::string Settings::ConfigFolder(const std::string& exeFolder, const std::string& userFolder) {
  if (!exeFolder.empty() && ::access(exeFolder.c_str(), W_OK) == 0) return exeFolder;
  std::error_code ec;
  std::filesystem::create_directories(userFolder, ec);
  return userFolder;
}

std::string Settings::UserConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return std::string(xdg) + "/Velmora";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/Velmora";
  return "/tmp/Velmora";
}

}  // namespace velmora
