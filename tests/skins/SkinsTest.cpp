// Skins: reading skin files (good, partly bad, unusable), listing a skin
// folder, the palette a skin gives, applying a skin to the application and
// going back to the plain look, the skinning engine's switch, and the
// "Skins" menu with its columns. Every test makes its own skin folder.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWidgetAction>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/Skins.h"

namespace velmora {
namespace {

QString Hex(const QColor& c) { return c.name(QColor::HexArgb); }

void WriteFile(const QString& path, const QByteArray& content) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  ASSERT_EQ(f.write(content), content.size());
}

// ---------------------------------------------------------------------------
// Reading a skin file

struct Color {
  const char* group;  // "" for every group
  QPalette::ColorRole role;
  const char* hex;    // #aarrggbb
};

struct ParseCase {
  const char* label;
  QByteArray content;
  bool ok;
  const char* style = "";
  std::vector<Color> colors = {};
  const char* sheet = "";
  // Each must occur in one of the warnings (or in the error when !ok).
  std::vector<const char*> reported = {};
};

std::string GroupName(const std::optional<QPalette::ColorGroup>& g) {
  if (!g) return "";
  switch (*g) {
    case QPalette::Active: return "Active";
    case QPalette::Inactive: return "Inactive";
    case QPalette::Disabled: return "Disabled";
    default: return "?";
  }
}

TEST(SkinParse, Cases) {
  const QByteArray huge = "Window=#101010\n[StyleSheet]\n/*" + QByteArray(kMaxSkinFileSize, 'x') + "*/";
  const QByteArray atLimit = [] {
    const QByteArray last = "\nWindow=#101010\n";
    return "#" + QByteArray(kMaxSkinFileSize - 1 - last.size(), 'x') + last;
  }();
  const ParseCase cases[] = {
      {"style, palette and sheet",
       "# a comment\n; another\nStyle=Windows\nWindow=#112233\nDisabled.Text=red\n[StyleSheet]\n"
       "QWidget { color: #eee; }\nQLabel { margin: 1px; }\n",
       true,
       "Windows",
       {{"", QPalette::Window, "#ff112233"}, {"Disabled", QPalette::Text, "#ffff0000"}},
       "QWidget { color: #eee; }\nQLabel { margin: 1px; }\n"},
      {"keys without regard to case, blanks around key and value",
       "  wInDoW   =   #abc  \nACTIVE.highlight=#80102030\n",
       true,
       "",
       {{"", QPalette::Window, "#ffaabbcc"}, {"Active", QPalette::Highlight, "#80102030"}}},
      {"CRLF lines and a byte-order mark", "\xEF\xBB\xBFStyle=Fusion\r\nBase=#ffffff\r\n", true, "Fusion",
       {{"", QPalette::Base, "#ffffffff"}}},
      {"the sheet is everything after its header, verbatim",
       "[stylesheet]\nWindow=#000000\n[Other]\n  QLabel{color:red}", true, "", {},
       "Window=#000000\n[Other]\n  QLabel{color:red}"},
      {"unknown keys and sections are skipped, the rest applies",
       "Foo=1\n[Extra]\nButton=#333333\nPressed.Window=#fff\n", true, "", {{"", QPalette::Button, "#ff333333"}}, "",
       {"line 1: unknown key \"Foo\"", "line 2: unknown section [Extra]", "line 4: unknown colour group"}},
      {"colours that do not parse are skipped",
       "Window=#12345G\nBase=notacolour\nText=\nHighlight=steelblue\n", true, "",
       {{"", QPalette::Highlight, "#ff4682b4"}}, "",
       {"line 1: \"#12345G\" is not a colour", "line 2: \"notacolour\"", "line 3: \"\" is not a colour"}},
      {"a line that is not key=value is skipped", "just words\n=#fff\nText=#010203\n", true, "",
       {{"", QPalette::Text, "#ff010203"}}, "", {"line 1: not key=value", "line 2: not key=value"}},
      {"an unbalanced sheet is left out, the palette stays",
       "Window=#202020\n[StyleSheet]\nQWidget { color: red;\n", true, "", {{"", QPalette::Window, "#ff202020"}}, "",
       {"style sheet is left out"}},
      {"a closing brace too many", "Window=#202020\n[StyleSheet]\nQWidget { color: red; } }\n", true, "",
       {{"", QPalette::Window, "#ff202020"}}, "", {"style sheet is left out"}},
      {"braces in comments and strings do not count",
       "[StyleSheet]\n/* { */ QLabel { qproperty-text: \"}\"; }\n", true, "", {},
       "/* { */ QLabel { qproperty-text: \"}\"; }\n"},
      {"a sheet alone is a skin", "[StyleSheet]\nQLabel { color: red; }", true, "", {}, "QLabel { color: red; }"},
      {"a file at the size limit", atLimit, true, "", {{"", QPalette::Window, "#ff101010"}}, ""},
      // Not skins at all.
      {"empty", "", false, "", {}, "", {"empty"}},
      {"only comments and blanks", "# nothing\n\n   \n", false, "", {}, "", {"nothing in the file"}},
      {"only unknown keys", "Colour=#fff\nFont=Sans\n", false, "", {}, "", {"unknown key \"Colour\""}},
      {"only a sheet that does not parse", "[StyleSheet]\nQLabel { color: red;", false, "", {}, "",
       {"style sheet is left out"}},
      {"an empty sheet", "[StyleSheet]\n  \n", false, "", {}, "", {"nothing in the file"}},
      {"NUL bytes", QByteArray("Window=#fff\n\0\x01\x02", 15), false, "", {}, "", {"not text"}},
      {"not UTF-8", "Window=#fff\nText=\xC3\x28\n", false, "", {}, "", {"not UTF-8"}},
      {"above the size limit", huge, false, "", {}, "", {"larger than 256 KiB"}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.label);
    QString error;
    const std::optional<Skin> skin = ParseSkin(QStringLiteral("Test"), c.content, &error);
    ASSERT_EQ(skin.has_value(), c.ok) << error.toStdString();
    const QStringList reported = skin ? skin->warnings : QStringList{error};
    for (const char* r : c.reported) {
      bool found = false;
      for (const QString& w : reported) found = found || w.contains(QString::fromUtf8(r));
      EXPECT_TRUE(found) << "not reported: " << r << "\nreported: " << reported.join(" | ").toStdString();
    }
    if (!skin) continue;
    if (c.reported.empty()) {
      EXPECT_TRUE(skin->warnings.isEmpty()) << skin->warnings.join(" | ").toStdString();
    }
    EXPECT_EQ(skin->name, "Test");
    EXPECT_EQ(skin->style.toStdString(), c.style);
    EXPECT_EQ(skin->styleSheet.toStdString(), c.sheet);
    ASSERT_EQ(skin->colors.size(), c.colors.size());
    for (size_t i = 0; i < c.colors.size(); ++i) {
      EXPECT_EQ(GroupName(skin->colors[i].group), c.colors[i].group) << i;
      EXPECT_EQ(skin->colors[i].role, c.colors[i].role) << i;
      EXPECT_EQ(Hex(skin->colors[i].color).toStdString(), c.colors[i].hex) << i;
    }
  }
}

TEST(SkinParse, WarningsOfAGarbledFileAreBounded) {
  // A long file of nonsense with one good line: it applies partly, and the
  // report stays short.
  QByteArray content;
  for (int i = 0; i < 5000; ++i) content += "garbage line\n";
  content += "Window=#123456\n";
  const std::optional<Skin> skin = ParseSkin(QStringLiteral("Noise"), content);
  ASSERT_TRUE(skin);
  ASSERT_EQ(skin->colors.size(), 1u);
  EXPECT_LE(skin->warnings.size(), 30);
  EXPECT_TRUE(skin->warnings.last().contains(QStringLiteral("more lines skipped")));
}

// ---------------------------------------------------------------------------
// The palette of a skin

TEST(SkinPalette, CompletesThePaletteFromTheGivenColours) {
  const std::optional<Skin> skin = ParseSkin(QStringLiteral("Dark"),
                                             "Window=#202020\nWindowText=#e0e0e0\n"
                                             "Base=#101010\nText=#ffffff\n"
                                             "Button=#404040\nButtonText=#c0c0c0\nMid=#010203\n"
                                             "Highlight=#3070d0\nDisabled.Text=#123456\n");
  ASSERT_TRUE(skin);
  QPalette base(Qt::white);
  base.setColor(QPalette::Link, QColor(0x11, 0x22, 0x33));
  const QPalette p = SkinPalette(*skin, base);

  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    EXPECT_EQ(Hex(p.color(g, QPalette::Window)), "#ff202020");
    EXPECT_EQ(Hex(p.color(g, QPalette::WindowText)), "#ffe0e0e0");
    EXPECT_EQ(Hex(p.color(g, QPalette::Text)), "#ffffffff");
    EXPECT_EQ(Hex(p.color(g, QPalette::Highlight)), "#ff3070d0");
  }
  // Backgrounds hold in every group; disabled text is blended halfway into
  // its background unless the skin says otherwise.
  EXPECT_EQ(Hex(p.color(QPalette::Disabled, QPalette::Window)), "#ff202020");
  EXPECT_EQ(Hex(p.color(QPalette::Disabled, QPalette::Highlight)), "#ff3070d0");
  EXPECT_EQ(Hex(p.color(QPalette::Disabled, QPalette::WindowText)), "#ff808080");
  EXPECT_EQ(Hex(p.color(QPalette::Disabled, QPalette::ButtonText)), "#ff808080");
  EXPECT_EQ(Hex(p.color(QPalette::Disabled, QPalette::Text)), "#ff123456");
  // Bevels come from Button unless given.
  EXPECT_EQ(p.color(QPalette::Active, QPalette::Light), QColor(0x40, 0x40, 0x40).lighter(150));
  EXPECT_EQ(p.color(QPalette::Disabled, QPalette::Dark), QColor(0x40, 0x40, 0x40).darker(200));
  EXPECT_EQ(Hex(p.color(QPalette::Active, QPalette::Mid)), "#ff010203");
  // What the skin does not name comes from the base palette...
  EXPECT_EQ(p.color(QPalette::Active, QPalette::Link), QColor(0x11, 0x22, 0x33));
  // ...and is fixed: resolving against another palette (the desktop's)
  // changes nothing.
  const QPalette desktop(Qt::red, Qt::green);
  const QPalette resolved = p.resolve(desktop);
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    for (int r = 0; r < QPalette::NColorRoles; ++r) {
      if (r == QPalette::NoRole) continue;
      const auto role = static_cast<QPalette::ColorRole>(r);
      EXPECT_EQ(resolved.color(g, role), p.color(g, role)) << g << " " << r;
    }
}

TEST(SkinPalette, LaterLinesWin) {
  const std::optional<Skin> skin =
      ParseSkin(QStringLiteral("Twice"), "Inactive.Window=#0000ff\nWindow=#111111\nWindow=#222222\n");
  ASSERT_TRUE(skin);
  const QPalette p = SkinPalette(*skin, QPalette(Qt::white));
  EXPECT_EQ(Hex(p.color(QPalette::Active, QPalette::Window)), "#ff222222");
  // A line with a group overrides every line without one.
  EXPECT_EQ(Hex(p.color(QPalette::Inactive, QPalette::Window)), "#ff0000ff");
}

// ---------------------------------------------------------------------------
// The skin folder

class SkinFolder : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QString Folder() const { return dir.path() + QStringLiteral("/Skins"); }
  void Make() { ASSERT_TRUE(QDir().mkpath(Folder())); }
  void Put(const QString& file, const QByteArray& content = "Window=#303030\n") {
    WriteFile(Folder() + u'/' + file, content);
  }
  QTemporaryDir dir;
};

TEST_F(SkinFolder, ListsSkinFilesSortedWithoutRegardToCase) {
  Make();
  for (const char* f : {"b.skin", "Apple.skin", "apple.skin", "a2.skin", "c d.skin", "\xC3\x89" "clat.skin",
                        "z.skin", "notes.txt", "skin", "x.SKIN", "y.skin.bak", ".hidden.skin", ".skin"})
    Put(QString::fromUtf8(f));
  Put(QStringLiteral("empty.skin"), "");
  Put(QStringLiteral("huge.skin"), QByteArray(kMaxSkinFileSize + 1, '#'));
  ASSERT_TRUE(QDir().mkpath(Folder() + QStringLiteral("/folder.skin")));

  const QStringList expected = {QStringLiteral("a2"),   QStringLiteral("Apple"), QStringLiteral("apple"),
                                QStringLiteral("b"),    QStringLiteral("c d"),   QStringLiteral("z"),
                                QString::fromUtf8("\xC3\x89" "clat")};
  EXPECT_EQ(ListSkins(Folder()), expected);
}

TEST_F(SkinFolder, AMissingFolderHasNoSkins) {
  EXPECT_TRUE(ListSkins(Folder()).isEmpty());
  EXPECT_TRUE(ListSkins(QString()).isEmpty());
}

TEST_F(SkinFolder, LoadsByNameAndNothingOutsideTheFolder) {
  Make();
  const QString odd = QString::fromUtf8("Nuit d'\xC3\xA9t\xC3\xA9 & co");
  Put(odd + QStringLiteral(".skin"), "Window=#010101\n");
  // A file beside the folder, which a crafted name could reach.
  WriteFile(dir.path() + QStringLiteral("/outside.skin"), "Window=#020202\n");

  const std::optional<Skin> skin = LoadSkin(Folder(), odd);
  ASSERT_TRUE(skin);
  EXPECT_EQ(skin->name, odd);
  ASSERT_EQ(skin->colors.size(), 1u);
  EXPECT_EQ(Hex(skin->colors[0].color), "#ff010101");

  for (const QString& name : {QStringLiteral("../outside"), QStringLiteral(".."), QStringLiteral(""),
                              QStringLiteral("missing"), QStringLiteral("Nuit")}) {
    QString error;
    EXPECT_FALSE(LoadSkin(Folder(), name, &error)) << name.toStdString();
    EXPECT_FALSE(error.isEmpty());
  }
}

TEST_F(SkinFolder, ImagesAreReadFromTheSkinFolder) {
  Make();
  Put(QStringLiteral("Pictures.skin"),
      "[StyleSheet]\n"
      "QCheckBox::indicator { image: url(images/check.png); }\n"
      "QComboBox::down-arrow { image: url( 'images/my arrow.png' ); }\n"
      "QLabel { border-image: url(:/resource.png); background: url(/abs/x.png); }\n");
  const std::optional<Skin> skin = LoadSkin(Folder(), QStringLiteral("Pictures"));
  ASSERT_TRUE(skin);
  const QString folder = QDir(Folder()).absolutePath();
  EXPECT_EQ(skin->styleSheet.toStdString(),
            ("QCheckBox::indicator { image: url(\"" + folder + "/images/check.png\"); }\n"
             "QComboBox::down-arrow { image: url(\"" + folder + "/images/my arrow.png\"); }\n"
             "QLabel { border-image: url(:/resource.png); background: url(/abs/x.png); }\n")
                .toStdString());
}

TEST_F(SkinFolder, RefusesAFileAboveTheLimit) {
  Make();
  Put(QStringLiteral("Big.skin"), "Window=#010101\n#" + QByteArray(kMaxSkinFileSize, 'x') + "\n");
  QString error;
  EXPECT_FALSE(LoadSkin(Folder(), QStringLiteral("Big"), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("larger than"))) << error.toStdString();
}

// ---------------------------------------------------------------------------
// The application's look

class SkinLook : public SkinFolder {
 protected:
  void SetUp() override {
    SkinFolder::SetUp();
    Make();
    plainPalette = QApplication::palette();
    plainStyle = QApplication::style()->name();
    Put(QStringLiteral("Night Sky.skin"),
        "Window=#1a1b1c\nWindowText=#f0f0f0\nButton=#2a2b2c\n[StyleSheet]\nQPushButton { padding: 7px; }\n");
    Put(QStringLiteral("Paper.skin"), "Window=#fafaf0\nWindowText=#101010\n");
    Put(QStringLiteral("Broken.skin"), QByteArray("\x01\x02\x00\xff garbage", 12));
  }
  void TearDown() override {
    ApplyPlainLook();
    ExpectPlain();
  }
  void ExpectPlain() {
    EXPECT_EQ(QApplication::palette(), plainPalette);
    EXPECT_EQ(qApp->styleSheet(), QString());
    EXPECT_EQ(QApplication::style()->name(), plainStyle);
  }
  QColor WindowColor() const { return QApplication::palette().color(QPalette::Active, QPalette::Window); }

  QPalette plainPalette;
  QString plainStyle;
};

TEST_F(SkinLook, ApplyingSetsPaletteAndSheetAndThePlainLookRestoresThem) {
  QPushButton button(QStringLiteral("Try"));
  button.ensurePolished();
  const QColor before = button.palette().color(QPalette::Window);

  const std::optional<Skin> night = LoadSkin(Folder(), QStringLiteral("Night Sky"));
  ASSERT_TRUE(night);
  ApplySkin(*night);
  EXPECT_EQ(Hex(WindowColor()), "#ff1a1b1c");
  EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QPushButton { padding: 7px; }\n"));
  // The widgets follow.
  QApplication::processEvents();
  EXPECT_EQ(Hex(button.palette().color(QPalette::Window)), "#ff1a1b1c");

  // Another skin replaces it all, the sheet too.
  const std::optional<Skin> paper = LoadSkin(Folder(), QStringLiteral("Paper"));
  ASSERT_TRUE(paper);
  ApplySkin(*paper);
  EXPECT_EQ(Hex(WindowColor()), "#fffafaf0");
  EXPECT_EQ(qApp->styleSheet(), QString());

  ApplyPlainLook();
  ExpectPlain();
  // A palette change alone reaches the widgets through the event loop.
  QApplication::processEvents();
  EXPECT_EQ(button.palette().color(QPalette::Window), before);
}

TEST_F(SkinLook, TheSkinChoosesItsStyle) {
  // Windows is built into every Qt; a style this Qt lacks gives Fusion.
  Put(QStringLiteral("Old.skin"), "Style=Windows\nWindow=#c0c0c0\n");
  Put(QStringLiteral("Odd.skin"), "Style=NoSuchStyle\nWindow=#c0c0c0\n");
  ApplySkin(*LoadSkin(Folder(), QStringLiteral("Old")));
  EXPECT_EQ(QApplication::style()->name().toLower(), "windows");
  ApplySkin(*LoadSkin(Folder(), QStringLiteral("Odd")));
  EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
}

TEST_F(SkinLook, EngineSelectsAndSwitches) {
  SkinEngine engine(Folder());
  EXPECT_EQ(engine.SkinNames(), (QStringList{"Broken", "Night Sky", "Paper"}));
  EXPECT_TRUE(engine.Active());

  // Names that load nothing leave the look and the selection alone, before
  // a skin and after one.
  for (const QString& name : {QStringLiteral("Nowhere"), QStringLiteral("Broken"), QString()}) {
    EXPECT_FALSE(engine.Select(name)) << name.toStdString();
    ExpectPlain();
    EXPECT_EQ(engine.Current(), QString());
  }
  ASSERT_TRUE(engine.Select(QStringLiteral("Night Sky")));
  EXPECT_EQ(engine.Current(), QStringLiteral("Night Sky"));
  const QPalette night = QApplication::palette();
  const QString nightSheet = qApp->styleSheet();
  for (const QString& name : {QStringLiteral("Nowhere"), QStringLiteral("Broken")}) {
    EXPECT_FALSE(engine.Select(name)) << name.toStdString();
    EXPECT_EQ(QApplication::palette(), night);
    EXPECT_EQ(qApp->styleSheet(), nightSheet);
    EXPECT_EQ(engine.Current(), QStringLiteral("Night Sky"));
  }

  // Off: the plain look, and a skin chosen meanwhile waits for "on".
  engine.SetActive(false);
  ExpectPlain();
  ASSERT_TRUE(engine.Select(QStringLiteral("Paper")));
  ExpectPlain();
  engine.SetActive(true);
  EXPECT_EQ(Hex(WindowColor()), "#fffafaf0");
}

TEST_F(SkinLook, SwitchingOffBeforeAnySkinKeepsTheLook) {
  SkinEngine engine(Folder());
  engine.SetActive(false);
  ExpectPlain();
  engine.SetActive(true);
  ExpectPlain();
}

// ---------------------------------------------------------------------------
// The "Skins" menu

QStringList Names(int count) {
  QStringList names;
  for (int i = 0; i < count; ++i) names << QStringLiteral("Skin %1").arg(i, 2, 10, QChar(u'0'));
  return names;
}

TEST(SkinsMenu, ANewColumnEveryTwelveItems) {
  struct Case {
    int items;
    std::vector<int> perColumn;  // items in each column, top down
  };
  for (const Case& c : {Case{1, {1}}, Case{12, {12}}, Case{13, {12, 1}}, Case{25, {12, 12, 1}}}) {
    SCOPED_TRACE(c.items);
    QMenu menu;
    FillSkinsMenu(&menu, Names(c.items), {}, {});
    std::vector<std::pair<int, int>> expected;  // (column, row) of each item, in order
    for (size_t column = 0; column < c.perColumn.size(); ++column)
      for (int row = 0; row < c.perColumn[column]; ++row) expected.emplace_back(static_cast<int>(column), row);

    const std::vector<SkinMenuCell> cells = SkinMenuCells(&menu);
    ASSERT_EQ(cells.size(), expected.size());
    for (size_t i = 0; i < cells.size(); ++i) {
      EXPECT_EQ(cells[i].action->text(), Names(c.items)[static_cast<int>(i)]);
      EXPECT_EQ(std::make_pair(cells[i].column, cells[i].row), expected[i]) << "item " << i;
    }
  }
}

TEST(SkinsMenu, CurrentSkinCheckedAndItemsSelect) {
  const QString amp = QStringLiteral("Black & White");
  const QString accented = QString::fromUtf8("\xC3\x89t\xC3\xA9 indien");
  const QStringList names = {amp, QStringLiteral("Graphite"), accented};
  QMenu menu;
  QStringList selected;
  QActionGroup* group = FillSkinsMenu(&menu, names, amp, [&](const QString& n) { selected << n; });
  ASSERT_TRUE(group);
  EXPECT_TRUE(group->isExclusive());

  auto checked = [&] {
    QStringList on;
    for (const QString& n : names)
      if (QAction* a = FindSkinItem(&menu, n); a && a->isChecked()) on << n;
    return on;
  };
  EXPECT_EQ(checked(), QStringList{amp});
  // The items can be found by name, also among the menu's children.
  EXPECT_EQ(menu.findChild<QAction*>(QStringLiteral("Skin:") + accented), FindSkinItem(&menu, accented));

  FindSkinItem(&menu, QStringLiteral("Graphite"))->trigger();
  EXPECT_EQ(checked(), QStringList{QStringLiteral("Graphite")});
  // Through its button, as the user clicks it.
  QToolButton* button = nullptr;
  for (QToolButton* b : menu.findChildren<QToolButton*>())
    if (b->defaultAction() == FindSkinItem(&menu, accented)) button = b;
  ASSERT_TRUE(button);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(checked(), QStringList{accented});
  // Picking the checked item again keeps it checked.
  FindSkinItem(&menu, accented)->trigger();
  EXPECT_EQ(checked(), QStringList{accented});
  EXPECT_EQ(selected, (QStringList{QStringLiteral("Graphite"), accented, accented}));

  CheckSkinItem(&menu, amp);
  EXPECT_EQ(checked(), QStringList{amp});
  CheckSkinItem(&menu, QStringLiteral("Nowhere"));
  EXPECT_TRUE(checked().isEmpty());
}

TEST(SkinsMenu, CurrentNamingNoSkinChecksNothing) {
  QMenu menu;
  FillSkinsMenu(&menu, Names(3), QStringLiteral("Skin"), {});
  for (const SkinMenuCell& c : SkinMenuCells(&menu)) EXPECT_FALSE(c.action->isChecked());
}

TEST(SkinsMenu, FillingAgainReplacesTheItems) {
  QMenu menu;
  FillSkinsMenu(&menu, Names(13), {}, {});
  int calls = 0;
  FillSkinsMenu(&menu, {QStringLiteral("Only")}, QStringLiteral("Only"), [&](const QString&) { ++calls; });
  const std::vector<SkinMenuCell> cells = SkinMenuCells(&menu);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_TRUE(cells[0].action->isChecked());
  EXPECT_EQ(menu.actions().size(), 1);
  EXPECT_EQ(menu.findChildren<QToolButton*>().size(), 1);
  EXPECT_EQ(FindSkinItem(&menu, Names(13)[0]), nullptr);
  cells[0].action->trigger();
  EXPECT_EQ(calls, 1);

  FillSkinsMenu(&menu, {}, {}, {});
  EXPECT_TRUE(menu.actions().isEmpty());
  EXPECT_TRUE(SkinMenuCells(&menu).empty());
}

// ---------------------------------------------------------------------------
// The skins Velmora ships

// Collects what Qt says while a sheet is parsed.
QStringList* gQtMessages = nullptr;
void CollectMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
  if (gQtMessages) gQtMessages->append(text);
}

TEST(ShippedSkins, LoadCleanlyAndQtAcceptsTheirSheets) {
  const QString folder = QStringLiteral(VELMORA_SHIPPED_SKINS);
  const QStringList names = ListSkins(folder);
  ASSERT_FALSE(names.isEmpty());
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    QString error;
    const std::optional<Skin> skin = LoadSkin(folder, name, &error);
    ASSERT_TRUE(skin) << error.toStdString();
    EXPECT_TRUE(skin->warnings.isEmpty()) << skin->warnings.join(" | ").toStdString();
    EXPECT_FALSE(skin->styleSheet.isEmpty());
    // Every image the sheet names is there.
    static const QRegularExpression url(QStringLiteral(R"re(url\("([^"]+)"\))re"));
    for (const QRegularExpressionMatch& m : url.globalMatch(skin->styleSheet))
      EXPECT_TRUE(QFile::exists(m.captured(1))) << m.captured(1).toStdString();
    // Legible: the main text colours stand out from their backgrounds.
    const QPalette p = SkinPalette(*skin, QPalette(Qt::white));
    for (auto [text, back] : {std::pair{QPalette::WindowText, QPalette::Window}, std::pair{QPalette::Text, QPalette::Base},
                              std::pair{QPalette::ButtonText, QPalette::Button},
                              std::pair{QPalette::HighlightedText, QPalette::Highlight}}) {
      const int diff = std::abs(qGray(p.color(text).rgb()) - qGray(p.color(back).rgb()));
      EXPECT_GE(diff, 100) << text;
    }

    QStringList messages;
    gQtMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(CollectMessage);
    ApplySkin(*skin);
    QWidget probe;
    auto* child = new QPushButton(QStringLiteral("x"), &probe);
    probe.ensurePolished();
    child->ensurePolished();
    qInstallMessageHandler(previous);
    gQtMessages = nullptr;
    EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
    ApplyPlainLook();
  }
}

}  // namespace
}  // namespace velmora
