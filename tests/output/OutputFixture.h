// A document with a scripted user who can also pick a type in the save
// dialog, a scratch folder, and the small pictures the output tests write.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "document/ScriptedUI.h"
#include "imaging/Pictures.h"

namespace velmora::test {

// ScriptedUI, and in the save dialog the user first picks the type at the
// front of `picks` (when there is one); the name each save dialog was
// opened on is kept.
class PickingUI : public ScriptedUI {
 public:
  std::string GetSaveFileName(const std::string& title, const std::vector<FileFilter>& filters, int& filterIndex,
                              const std::string& fileName) override {
    givenNames.push_back(fileName);
    const int opened = filterIndex;
    if (!picks.empty()) {
      filterIndex = picks.front();
      picks.pop_front();
    }
    std::string path = ScriptedUI::GetSaveFileName(title, filters, filterIndex, fileName);
    lastFilterIndex = opened;
    return path;
  }
  std::deque<int> picks;
  std::vector<std::string> givenNames;
};

// Sixteen colours with distinct red, green and blue in blocks, so that a
// swapped channel, a shifted row or a flipped picture shows, while every
// lossless writer (GIF's palette included) keeps it exactly.
inline IEBitmap Blocks(int w, int h) {
  static const int kLevels[16][3] = {{0, 0, 0},       {255, 255, 255}, {200, 30, 60},  {20, 180, 90},
                                     {40, 60, 220},   {250, 200, 10},  {90, 10, 140},  {10, 130, 160},
                                     {160, 90, 20},   {120, 120, 120}, {230, 140, 170}, {60, 220, 30},
                                     {100, 40, 70},   {180, 210, 240}, {30, 30, 90},   {250, 100, 0}};
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int* c = kLevels[(x / 3 + 5 * (y / 2)) % 16];
      b.Pixel24(x, y) = RGB(c[0], c[1], c[2]);
    }
  return b;
}

// A smooth picture, the kind JPEG keeps close.
inline IEBitmap Smooth(int w, int h) {
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.Pixel24(x, y) = RGB(255 * x / std::max(w - 1, 1), 255 * y / std::max(h - 1, 1), (x + y) % 256);
  return b;
}

// Mean absolute difference per channel of two ie24RGB pictures of one size.
inline double MeanDifference(const IEBitmap& a, const IEBitmap& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const IETriple p = a.Pixel24(x, y), q = b.Pixel24(x, y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  return sum / (3.0 * a.Width() * a.Height());
}

class OutputTest : public ::testing::Test {
 protected:
  // The folder and the document exist from the start, so that fixtures
  // built on this one can hand them to their members.
  OutputTest() : dir_(MakeFolder()), doc_(std::make_unique<Document>(ui_)) {}
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  void TearDown() override {
    doc_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  static std::string MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-output-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Puts `picture` into layer 0 as an opened photo, then marks the image
  // changed.
  void Load(const IEBitmap& picture) {
    const std::string p = Path("source.ppm");
    ASSERT_TRUE(WriteImage(p, picture));
    ASSERT_TRUE(doc_->OpenFile(p));
    std::filesystem::remove(p);
    doc_->SetImageModified(true);
  }

  // The files in the scratch folder, by name.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string ReadBytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
  PickingUI ui_;
  std::unique_ptr<Document> doc_;
};

}  // namespace velmora::test
