// Conf.ini: the window's geometry, the canvas background, the skin, the
// side of the side panel and two switches, in the section "Base". Read
// once at start, written once at close, atomically. The file is edited in
// place: lines, sections and keys Velmora does not know stay as they were,
// and a key that is not written this time (the geometry of a minimized
// window) keeps its old value.
#pragma once

#include <string>
#include <vector>

#include "imaging/Color.h"

namespace velmora {

// A plain INI file kept as its lines, so that writing it back changes only
// the values that changed. Section and key names compare without regard
// to case; values are trimmed of surrounding blanks.
class IniFile {
 public:
  // False (and an empty file) when it cannot be read; a missing file is an
  // empty one.
  bool Load(const std::string& path);
  void Parse(const std::string& content);
  std::string Serialize() const;
  bool Save(const std::string& path, std::string& error) const;

  // `fallback` when the section or the key is missing.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
  // Replaces the value in place, or appends the key at the end of its
  // section (the section at the end of the file when it is new).
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

 private:
  struct Line {
    std::string text;
  };
  // Index of the section's header line, -1 when absent.
  int FindSection(const std::string& section) const;
  // Index of the key's line within the section starting at `header`, -1.
  int FindKey(int header, const std::string& key) const;
  int SectionEnd(int header) const;

  std::vector<Line> lines_;
  std::string newline_ = "\r\n";
};

enum class WindowState { Normal, Maximized, Minimized };
enum class PanelSide { Right, Left };
// Skinable: "Yes", "No", or anything else (the engine stays on and
// neither menu item is checked).
enum class SkinSupport { Unset, Enabled, Disabled };

class Settings {
 public:
  static constexpr const char* kFileName = "Conf.ini";
  static constexpr const char* kSection = "Base";
  static constexpr int kDesignWidth = 877;
  static constexpr int kDesignHeight = 701;

  // `folder` holds Conf.ini (see ConfigFolder).
  explicit Settings(std::string folder);

  const std::string& Folder() const { return folder_; }
  std::string FilePath() const { return folder_ + "/" + kFileName; }

  // Reads Conf.ini. A missing file, an unreadable one and values that
  // cannot be understood all give the defaults of the values concerned.
  void Load();
  // Writes the values back into the file as it was read: Window first
  // (with Left, Top, Width and Height in normal state; nothing of the
  // geometry while minimized), then Color, Skin, Panel, SaveProp, Skinable.
  bool Save(std::string& error);

  // --- Values --------------------------------------------------------------
  // At load: Maximized for "Max", Normal otherwise. At save: the state the
  // window is in.
  WindowState Window = WindowState::Normal;
  // The settings asked for a maximized window.
  bool StartMaximized = false;
  // At load: true when Window is "Custom" and the four values are decimal
  // integers (width and height above 0); otherwise the window takes the
  // design size centred on the desktop. At save: the normal geometry.
  bool CustomGeometry = false;
  int Left = 0, Top = 0, Width = kDesignWidth, Height = kDesignHeight;
  Color Background = clBtnFace;
  std::string Skin;
  PanelSide Panel = PanelSide::Right;
  bool SaveProp = true;  // the frame generator's "Keep Proportions"
  SkinSupport Skinable = SkinSupport::Unset;

  // The folder for Conf.ini and Recent.lst: the executable's folder when it
  // is writable, otherwise `userFolder` (created when missing).
  static std::string ConfigFolder(const std::string& exeFolder, const std::string& userFolder);
  // $XDG_CONFIG_HOME/Velmora, or ~/.config/Velmora.
  static std::string UserConfigFolder();

 private:
  std::string folder_;
  IniFile ini_;
};

}  // namespace velmora
