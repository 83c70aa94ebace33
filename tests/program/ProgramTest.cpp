// The program as users run it: copied into a folder of its own (Conf.ini
// and Recent.lst live beside the executable), started under Qt's offscreen
// platform, asked to close by a termination signal, and judged by what it
// wrote on the way out.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// True once the process has installed its handler for `sig` (the bit in
// SigCgt of /proc/PID/status): from then on the signal closes the window
// instead of killing the process.
bool Catches(pid_t pid, int sig) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (sig - 1)) & 1;
    }
  }
  return false;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("velmora-program-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(VELMORA_EXE, folder / "velmora");
    fs::permissions(folder / "velmora", fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(folder); }

  // Starts the program, lets it come up, asks it to close; its exit status.
  int RunAndClose() {
    const std::string exe = (folder / "velmora").string();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0) env.push_back(v);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    // Should the folder not be writable after all, the settings must not
    // land in the user's real configuration.
    env.push_back("XDG_CONFIG_HOME=" + (folder / "config").string());
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string arg0 = exe;
    char* argv[] = {arg0.data(), nullptr};

    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Catches(pid, SIGTERM) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Let the window come up and its first tick run, as a user would.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGTERM);
    int status = 0;
    for (;;) {
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) break;
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -2;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path folder;
};

TEST_F(ProgramTest, WritesBackTheSettingsAndRecentListItStartedWith) {
  const std::string conf =
      "[Base]\r\nWindow=Custom\r\nLeft=40\r\nTop=50\r\nWidth=900\r\nHeight=720\r\nColor=$00336699\r\nSkin=\r\n"
      "Panel=Left\r\nSaveProp=No\r\nSkinable=No\r\n";
  const std::string recent = "/photos/b.jpg\r\n/photos/A.jpg\r\n/photos/a.jpg\r\n";
  WriteAll(folder / "Conf.ini", conf);
  WriteAll(folder / "Recent.lst", recent);

  ASSERT_EQ(RunAndClose(), 0);
  EXPECT_EQ(ReadAll(folder / "Conf.ini"), conf);
  EXPECT_EQ(ReadAll(folder / "Recent.lst"), recent);
  EXPECT_FALSE(fs::exists(folder / "config"));
}

TEST_F(ProgramTest, GarbledOrMissingFilesGiveASoundStart) {
  struct Case {
    const char* name;
    const char* conf;  // nullptr: no Conf.ini at all
  } cases[] = {
      {"missing", nullptr},
      {"garbled", "\x01\xff[Base\nWindow==Custom\nLeft=x\nTop=\nWidth=-5\nHeight=99999999999\nColor=clNoSuch\n"},
      {"no section", "Window=Max\nColor=clRed\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    fs::remove(folder / "Conf.ini");
    fs::remove(folder / "Recent.lst");
    if (k.conf) WriteAll(folder / "Conf.ini", k.conf);
    ASSERT_EQ(RunAndClose(), 0);
    // What was unreadable stays in the file as it was; the section written
    // holds the design geometry and the defaults, in the file's own line
    // endings.
    std::string written = ReadAll(folder / "Conf.ini");
    std::erase(written, '\r');
    const size_t base = written.rfind("[Base]\n");
    ASSERT_NE(base, std::string::npos) << written;
    const std::string section = written.substr(base);
    for (const char* line : {"Window=Custom\n", "Width=877\nHeight=701\n", "Color=clBtnFace\n", "Panel=Right\n"})
      EXPECT_NE(section.find(line), std::string::npos) << line << " in\n" << written;
    EXPECT_EQ(ReadAll(folder / "Recent.lst"), "");
  }
}

}  // namespace
