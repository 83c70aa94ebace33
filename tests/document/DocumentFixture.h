// A document with a scripted user and a scratch folder of small photos.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "document/Document.h"
#include "document/ScriptedUI.h"
#include "document/files/ImageFile.h"
#include "imaging/Pictures.h"

namespace velmora::test {

// A picture whose pixels differ from one another, so a copy of the wrong
// picture or a shifted one shows.
inline IEBitmap Photo(int w, int h, int seed) {
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.Pixel24(x, y) = RGB((13 * x + seed * 40) & 255, (7 * y + seed * 90) & 255, (3 * x + 5 * y + seed) & 255);
  return b;
}

// Adds `step` to every channel (wrapping): applied twice it shows twice.
inline void Brighten(IEBitmap& b, int step) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      IETriple& t = b.Pixel24(x, y);
      t = RGB((t.r + step) & 255, (t.g + step) & 255, (t.b + step) & 255);
    }
}

inline IEBitmap Brightened(IEBitmap b, int step) {
  Brighten(b, step);
  return b;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-doc-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    doc_ = std::make_unique<Document>(ui_);
  }
  void TearDown() override {
    doc_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes `picture` as a PPM (exact round trip) and returns its path.
  std::string WritePhoto(const std::string& name, const IEBitmap& picture) {
    const std::string p = Path(name);
    EXPECT_TRUE(WriteImage(p, picture).ok);
    return p;
  }
  void WriteText(const std::string& name, const std::string& content) {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string ReadText(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Opens a fresh photo as the dialog would; returns the picture.
  IEBitmap OpenPhoto(int seed = 1, int w = 12, int h = 9) {
    IEBitmap photo = Photo(w, h, seed);
    EXPECT_TRUE(doc_->OpenFile(WritePhoto("photo" + std::to_string(seed) + ".ppm", photo)));
    return photo;
  }

  // The chain of a tool, run on layer 0.
  static std::function<void(LayerCanvas&)> Step(int step) {
    return [step](LayerCanvas& c) { Brighten(c.Layer(0)->Bitmap, step); };
  }

  // A preview layer over layer 0, as the decoration pages build them.
  void AddPreviewLayer(int seed = 7) {
    doc_->Imaga().AddLayer(Photo(5, 4, seed));
    doc_->Imaga().SetMouseInteract(miMoveLayers | miResizeLayers);
  }

  ScriptedUI ui_;
  std::unique_ptr<Document> doc_;
  std::string dir_;
};

}  // namespace velmora::test
