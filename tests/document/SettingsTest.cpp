// Conf.ini: read with defaults for whatever is missing or garbled, written
// back in place in the order of its keys, colours as names or $00BBGGRR.
#include <filesystem>

#include "document/DocumentFixture.h"
#include "document/Settings.h"

namespace velmora::test {
namespace {

class SettingsTest : public DocumentTest {
 protected:
  Settings LoadFrom(const std::string& content) {
    WriteText("Conf.ini", content);
    Settings s(dir_);
    s.Load();
    return s;
  }
  std::string SaveAndRead(Settings& s) {
    std::string error;
    EXPECT_TRUE(s.Save(error)) << error;
    return ReadText(Path("Conf.ini"));
  }
};

const std::string kKnownFile =
    "[Base]\r\n"
    "Window=Custom\r\n"
    "Left=120\r\n"
    "Top=-8\r\n"
    "Width=1024\r\n"
    "Height=768\r\n"
    "Color=$000080FF\r\n"
    "Skin=Blue Steel\r\n"
    "Panel=Left\r\n"
    "SaveProp=No\r\n"
    "Skinable=Yes\r\n";

TEST_F(SettingsTest, AKnownFileIsReadAndWrittenBackByteForByte) {
  Settings s = LoadFrom(kKnownFile);
  EXPECT_EQ(s.Window, WindowState::Normal);
  EXPECT_FALSE(s.StartMaximized);
  EXPECT_TRUE(s.CustomGeometry);
  EXPECT_EQ(s.Left, 120);
  EXPECT_EQ(s.Top, -8);
  EXPECT_EQ(s.Width, 1024);
  EXPECT_EQ(s.Height, 768);
  EXPECT_EQ(s.Background, 0x000080FFu);
  EXPECT_EQ(s.Skin, "Blue Steel");
  EXPECT_EQ(s.Panel, PanelSide::Left);
  EXPECT_FALSE(s.SaveProp);
  EXPECT_EQ(s.Skinable, SkinSupport::Enabled);
  EXPECT_EQ(SaveAndRead(s), kKnownFile);
}

TEST_F(SettingsTest, AMissingFileGivesTheDefaultsAndIsWrittenInKeyOrder) {
  Settings s(dir_);
  s.Load();
  EXPECT_EQ(s.Window, WindowState::Normal);
  EXPECT_FALSE(s.CustomGeometry);
  EXPECT_EQ(s.Width, 877);
  EXPECT_EQ(s.Height, 701);
  EXPECT_EQ(s.Background, clBtnFace);
  EXPECT_EQ(s.Skin, "");
  EXPECT_EQ(s.Panel, PanelSide::Right);
  EXPECT_TRUE(s.SaveProp);
  EXPECT_EQ(s.Skinable, SkinSupport::Unset);

  s.Left = 10;
  s.Top = 20;
  EXPECT_EQ(SaveAndRead(s),
            "[Base]\r\nWindow=Custom\r\nLeft=10\r\nTop=20\r\nWidth=877\r\nHeight=701\r\nColor=clBtnFace\r\n"
            "Skin=\r\nPanel=Right\r\nSaveProp=Yes\r\nSkinable=Yes\r\n");
}

TEST_F(SettingsTest, GarbledValuesFallBackOneByOne) {
  struct Case {
    const char* name;
    std::string content;
    std::function<void(const Settings&)> check;
  };
  const std::vector<Case> cases = {
      {"binary junk", std::string("\x89PNG\r\n\x1a\n\0\0[Base\0]\r\n==\r\n", 22),
       [](const Settings& s) {
         EXPECT_FALSE(s.CustomGeometry);
         EXPECT_EQ(s.Background, clBtnFace);
         EXPECT_EQ(s.Panel, PanelSide::Right);
       }},
      {"geometry not numbers",
       "[Base]\r\nWindow=Custom\r\nLeft=abc\r\nTop=1\r\nWidth=800\r\nHeight=600\r\n",
       [](const Settings& s) {
         EXPECT_FALSE(s.CustomGeometry);
         EXPECT_EQ(s.Width, 877);
         EXPECT_EQ(s.Height, 701);
       }},
      {"size not positive", "[Base]\r\nWindow=Custom\r\nLeft=0\r\nTop=0\r\nWidth=0\r\nHeight=600\r\n",
       [](const Settings& s) { EXPECT_FALSE(s.CustomGeometry); }},
      {"unknown window word", "[Base]\r\nWindow=max\r\nLeft=1\r\nTop=1\r\nWidth=800\r\nHeight=600\r\n",
       [](const Settings& s) {
         EXPECT_EQ(s.Window, WindowState::Normal);
         EXPECT_FALSE(s.StartMaximized);
         EXPECT_FALSE(s.CustomGeometry);
       }},
      {"maximized", "[Base]\r\nWindow=Max\r\n",
       [](const Settings& s) {
         EXPECT_EQ(s.Window, WindowState::Maximized);
         EXPECT_TRUE(s.StartMaximized);
       }},
      {"bad colour", "[Base]\r\nColor=clNoSuchColour\r\n",
       [](const Settings& s) { EXPECT_EQ(s.Background, clBtnFace); }},
      {"colour forms", "[base]\nCOLOR = $00FF0000 \n",
       [](const Settings& s) { EXPECT_EQ(s.Background, 0x00FF0000u); }},
      {"decimal colour", "[Base]\r\nColor=255\r\n", [](const Settings& s) { EXPECT_EQ(s.Background, 0xFFu); }},
      {"only exact words count", "[Base]\r\nPanel=left\r\nSaveProp=no\r\nSkinable=YES\r\n",
       [](const Settings& s) {
         EXPECT_EQ(s.Panel, PanelSide::Right);
         EXPECT_TRUE(s.SaveProp);
         EXPECT_EQ(s.Skinable, SkinSupport::Unset);
       }},
      {"skins off", "[Base]\r\nSkinable=No\r\n",
       [](const Settings& s) { EXPECT_EQ(s.Skinable, SkinSupport::Disabled); }},
      {"keys of another section", "[Other]\r\nPanel=Left\r\n[Base]\r\nSkin=Mac\r\n",
       [](const Settings& s) {
         EXPECT_EQ(s.Panel, PanelSide::Right);
         EXPECT_EQ(s.Skin, "Mac");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(LoadFrom(c.content));
  }
}

TEST_F(SettingsTest, ColoursAreWrittenAsNamesOrAsDollarAndBgr) {
  const std::pair<Color, const char*> cases[] = {
      {clWhite, "clWhite"},
      {clBtnFace, "clBtnFace"},
      {0x00F0CAA6, "clSkyBlue"},
      {0x000080FF, "$000080FF"},  // red 255, green 128, blue 0
      {0x00123456, "$00123456"},
  };
  for (const auto& [colour, text] : cases) {
    SCOPED_TRACE(text);
    Settings s = LoadFrom(kKnownFile);
    s.Background = colour;
    const std::string out = SaveAndRead(s);
    EXPECT_NE(out.find(std::string("\r\nColor=") + text + "\r\n"), std::string::npos) << out;
    Settings back(dir_);
    back.Load();
    EXPECT_EQ(back.Background, colour);
  }
}

TEST_F(SettingsTest, WindowStateDecidesWhichGeometryKeysAreWritten) {
  // Minimized: the geometry in the file stays as it was.
  Settings s = LoadFrom(kKnownFile);
  s.Window = WindowState::Minimized;
  s.Left = s.Top = s.Width = s.Height = 5;
  EXPECT_EQ(SaveAndRead(s), kKnownFile);

  // Maximized: only Window changes.
  s = LoadFrom(kKnownFile);
  s.Window = WindowState::Maximized;
  std::string expected = kKnownFile;
  expected.replace(expected.find("Custom"), 6, "Max");
  EXPECT_EQ(SaveAndRead(s), expected);

  // Back to normal from a maximized start: the geometry is written again.
  s.Load();
  EXPECT_TRUE(s.StartMaximized);
  s.Window = WindowState::Normal;
  s.Left = 1;
  s.Top = 2;
  s.Width = 300;
  s.Height = 200;
  const std::string out = SaveAndRead(s);
  EXPECT_NE(out.find("Window=Custom\r\nLeft=1\r\nTop=2\r\nWidth=300\r\nHeight=200\r\n"), std::string::npos) << out;
}

TEST_F(SettingsTest, OtherContentOfTheFileIsKept) {
  const std::string file =
      "; written by hand\n"
      "[Base]\n"
      "Skin = Old Skin\n"
      "Extra=1\n"
      "\n"
      "[Later]\n"
      "Key=Value\n";
  Settings s = LoadFrom(file);
  EXPECT_EQ(s.Skin, "Old Skin");
  s.Window = WindowState::Minimized;
  EXPECT_EQ(SaveAndRead(s),
            "; written by hand\n"
            "[Base]\n"
            "Skin = Old Skin\n"
            "Extra=1\n"
            "Color=clBtnFace\n"
            "Panel=Right\n"
            "SaveProp=Yes\n"
            "Skinable=Yes\n"
            "\n"
            "[Later]\n"
            "Key=Value\n");
}

TEST_F(SettingsTest, TheFolderIsTheExecutablesWhenWritable) {
  EXPECT_EQ(Settings::ConfigFolder(dir_, Path("user")), dir_);
  EXPECT_FALSE(std::filesystem::exists(Path("user")));
  const std::string user = Path("user/config/Velmora");
  EXPECT_EQ(Settings::ConfigFolder(Path("no-such-exe-folder"), user), user);
  EXPECT_TRUE(std::filesystem::is_directory(user));
}

TEST_F(SettingsTest, AFailedWriteKeepsTheOldFile) {
  Settings s = LoadFrom(kKnownFile);
  std::filesystem::remove(Path("Conf.ini"));
  std::filesystem::create_directory(Path("Conf.ini"));  // cannot be replaced by a file
  s.Panel = PanelSide::Right;
  std::string error;
  EXPECT_FALSE(s.Save(error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(Path("Conf.ini")));
}

}  // namespace
}  // namespace velmora::test
