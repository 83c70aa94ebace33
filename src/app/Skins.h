// Skins: the look of the whole application (Qt style, palette and style
// sheet), one file per skin in the folder `Skins` beside the program, and
// the "Skins" menu that lists them.
//
// A skin file is "<name>.skin" (lower-case extension); the skin's name is
// the file name without ".skin", exactly as it is spelt (spaces and
// non-ASCII letters included). It is UTF-8 text of at most 256 KiB:
//
//   # Graphite: dark neutral grey around the photo.   (# or ; starts a comment)
//   Style=Fusion
//   Window=#2b2d31
//   WindowText=#e4e4e6
//   Button=#3a3c42
//   Disabled.Text=#6f7178
//   ...
//   [StyleSheet]
//   QToolButton { border-radius: 6px; }
//   ...
//
// Before the line "[StyleSheet]", one `key=value` a line (blanks around
// either side do not matter, keys compare without regard to case):
// - `Style`: the Qt style the sheet is drawn on. Fusion when absent or
//   when this Qt has no style of that name; Fusion follows the palette in
//   every control, which other styles do not promise.
// - A palette role named as in QPalette::ColorRole (Window, WindowText,
//   Base, AlternateBase, ToolTipBase, ToolTipText, PlaceholderText, Text,
//   Button, ButtonText, BrightText, Light, Midlight, Mid, Dark, Shadow,
//   Highlight, HighlightedText, Link, LinkVisited), optionally preceded by
//   a colour group and a dot (Active., Inactive., Disabled.). The value is
//   any colour QColor reads: #rgb, #rrggbb, #aarrggbb or an SVG colour name.
// Everything after "[StyleSheet]" is a Qt style sheet, taken verbatim,
// except that a relative path in url(...) is read from the skin folder
// (so a skin's images, e.g. "images/check-ffffff.png", lie beside it);
// absolute paths and Qt resources (":/...") stay as they are.
//
// How the palette is completed (SkinPalette): it starts from the base
// style's standard palette. A role without a group sets the active and
// inactive groups, and the disabled group too except for the text roles
// (WindowText, Text, ButtonText), whose disabled colour is the enabled one
// blended halfway into its background (Window, Base, Button), so that
// disabled items stay legible but visibly off on light and dark skins
// alike. When Button is given, the bevel roles not given (Light, Midlight,
// Mid, Dark, Shadow) are derived from it. Lines with a group come last and
// override all of this.
//
// What goes wrong, and what happens then:
// - a file that is missing, empty, larger than kMaxSkinFileSize, not
//   UTF-8 text (NUL bytes, invalid sequences) or without a single
//   recognised line is not a skin: it cannot be loaded, nothing changes;
// - a line that is not `key=value`, an unknown key, a colour that does not
//   parse, another "[section]": the line is skipped with a warning, the
//   rest applies;
// - a style sheet whose braces do not balance (Qt would drop it whole,
//   with a warning of its own) is dropped with a warning; the palette and
//   the style still apply.
#pragma once

#include <QPalette>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;

namespace velmora {

inline constexpr qint64 kMaxSkinFileSize = 256 * 1024;
inline constexpr const char* kSkinExtension = ".skin";
inline constexpr const char* kDefaultSkinStyle = "Fusion";
// The "Skins" menu starts a new column after this many items.
inline constexpr int kSkinMenuRows = 12;

struct SkinColor {
  std::optional<QPalette::ColorGroup> group;  // none: as described above
  QPalette::ColorRole role = QPalette::Window;
  QColor color;
};

struct Skin {
  QString name;
  QString style;  // as the file names it; empty when it names none
  std::vector<SkinColor> colors;  // in file order
  QString styleSheet;
  // One line each for what was skipped ("line 7: unknown key "Foo""),
  // at most a screenful of them.
  QStringList warnings;
};

// The skins of `folder`: regular files named "<name>.skin" that are not
// hidden, not empty and not above the size limit (their content is read
// only when one is loaded). Sorted without regard to case (Unicode case
// folding, then exact order for names that differ only in case), which
// does not depend on the locale the program runs in. A missing folder has
// no skins.
QStringList ListSkins(const QString& folder);

// Reads the text of a skin file. nullopt, with the reason in `error`, for
// the failures listed above.
std::optional<Skin> ParseSkin(const QString& name, const QByteArray& content, QString* error = nullptr);
// Loads "<folder>/<name>.skin", with the relative url() paths of its
// style sheet made absolute. A name that could not come from a file name
// (empty, ".", "..", with a slash) loads nothing.
std::optional<Skin> LoadSkin(const QString& folder, const QString& name, QString* error = nullptr);

// The full palette of a skin on top of `base` (the standard palette of the
// skin's style): every role of every group is set, so nothing of the
// desktop's own palette shows through.
QPalette SkinPalette(const Skin& skin, const QPalette& base);

// Gives the running application the skin's style, palette and style sheet.
// The first call remembers the look the application had, for ApplyPlainLook.
void ApplySkin(const Skin& skin);
// Back to the look the application had before the first skin: its style,
// its palette and its style sheet. Nothing happens when no skin was applied.
void ApplyPlainLook();

// The skinning engine of the main window: a folder, the skin selected in
// it and the switch that turns skinning on and off (on at start).
class SkinEngine {
 public:
  explicit SkinEngine(QString folder = {}) : folder_(std::move(folder)) {}

  void SetFolder(const QString& folder) { folder_ = folder; }
  const QString& Folder() const { return folder_; }
  // ListSkins of the folder.
  QStringList SkinNames() const { return ListSkins(folder_); }

  // Loads the skin `name` (read afresh from its file) and, when skinning
  // is on, applies it. False when it cannot be loaded; then the current
  // skin and the look stay as they were. Problems are reported through
  // qWarning with the file's path.
  bool Select(const QString& name);
  // The name of the selected skin, empty before the first successful
  // Select.
  const QString& Current() const { return current_; }

  // Off: the plain look. On: the selected skin, if any, again.
  void SetActive(bool on);
  bool Active() const { return active_; }

 private:
  QString folder_;
  QString current_;
  std::optional<Skin> skin_;
  bool active_ = true;
};

// Fills `menu` with one checkable item per name, in the order given, in an
// exclusive group: item i begins a new column when i is a multiple of
// kSkinMenuRows. QMenu has no column break, so the items are shown as
// buttons in a grid (a QWidgetAction named "SkinsGrid"); the QActions
// themselves belong to the returned group, a child of `menu` (so
// menu->findChild finds them), are named "Skin:<name>" and have the name
// as their text. The item whose text equals `current` starts checked.
// Triggering an item checks it, closes the open menus and calls
// `onSelect` with the name. Whatever an earlier call put into `menu` is
// removed first.
QActionGroup* FillSkinsMenu(QMenu* menu, const QStringList& names, const QString& current,
                            std::function<void(const QString&)> onSelect);
// The item of `name` in a menu filled by FillSkinsMenu, or nullptr.
QAction* FindSkinItem(const QMenu* menu, const QString& name);
// Checks the item of `name`; unchecks every item when there is none.
void CheckSkinItem(const QMenu* menu, const QString& name);

// Where each item of a menu filled by FillSkinsMenu is shown, in the order
// of the items.
struct SkinMenuCell {
  QAction* action = nullptr;
  int row = 0;
  int column = 0;
};
std::vector<SkinMenuCell> SkinMenuCells(const QMenu* menu);

}  // namespace velmora
