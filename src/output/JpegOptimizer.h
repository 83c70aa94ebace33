// The JPEG optimizer's logic: a copy of the photo beside the same photo
// compressed as JPEG, and the sizes of both, so that the user can pick the
// lowest quality that still looks good before saving. The two pictures live
// in canvases of their own (the dialog's views SR and DS show them); the
// document's canvas is never changed.
//
// Every compression goes through the trial file temp.jpg, which is
// overwritten each time and left in place.
#pragma once

#include <cstdint>
#include <string>

#include "document/UserInterface.h"
#include "document/canvas/LayerCanvas.h"
#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"
#include "output/SaveAs.h"

namespace velmora {

// The three settings of the window: the sliders Compress and Smooth and the
// check box Optimal.
struct JpegSettings {
  int quality = 80;      // 1..100
  int smooth = 0;        // 0..100
  bool optimal = false;  // optimal Huffman tables
};

class JpegOptimizer {
 public:
  static constexpr const char* kTrialFileName = "temp.jpg";
  static constexpr const char* kSaveTitle = "Save As";
  static constexpr const char* kSaveFilterCaption = "JPEG Image File (*.jpg)";

  // `trialFolder` holds temp.jpg (see TrialFolder).
  JpegOptimizer(UserInterface& ui, std::string trialFolder);
  JpegOptimizer(const JpegOptimizer&) = delete;
  JpegOptimizer& operator=(const JpegOptimizer&) = delete;

  // Where temp.jpg lives: the executable's folder while it is writable,
  // otherwise the user's cache folder (created when missing).
  static std::string TrialFolder(const std::string& exeFolder);
  // $XDG_CACHE_HOME/Velmora, or ~/.cache/Velmora.
  static std::string UserCacheFolder();

  // Bytes in kilobytes of 1024, rounded to the nearest, halves to even.
  static uint64_t Kilobytes(uint64_t bytes);
  // "Size 2344 Kb": the uncompressed size, width x height x 3 bytes.
  static std::string SourceCaption(int width, int height);
  // "Size 310 Kb, Quality  80%".
  static std::string DestCaption(uint64_t compressedBytes, int quality);

  // The views' canvases: layer 0 of SR holds the copy of the photo, layer
  // 0 of DS the compressed picture as read back from temp.jpg.
  LayerCanvas& SR() { return sr_; }
  LayerCanvas& DS() { return ds_; }
  const IEBitmap& SourcePicture() const { return sr_.Layer(0)->Bitmap; }
  const IEBitmap& CompressedPicture() const { return ds_.Layer(0)->Bitmap; }
  // The texts of the panels Source and Dest.
  const std::string& SourceText() const { return sourceText_; }
  const std::string& DestText() const { return destText_; }
  // The length of the last compression (0 before the first).
  uint64_t CompressedSize() const { return compressedSize_; }
  std::string TrialPath() const { return trialFolder_ + "/" + kTrialFileName; }

  // The window became active: `layer0` is copied into SR, the Source text
  // gives its size, then TryToSave runs.
  void Activate(const IEBitmap& layer0, const JpegSettings& settings);
  // Compresses SR's picture with the settings into memory (its length is
  // the compressed size) and into temp.jpg, writes Dest and reads temp.jpg
  // back into DS. On failure the writer's or reader's message is shown and
  // Dest, DS and the size stay as they were.
  bool TryToSave(const JpegSettings& settings);
  // "Save": asks for a name in the dialog SaveJPEG (one type, "JPEG Image
  // File"), appends ".jpg" to it whatever it ends with, and writes SR's
  // picture as JPEG with the settings. True when a file was written; the
  // window closes in every case, also when the dialog was cancelled. A
  // write that fails shows the writer's message.
  bool Save(const JpegSettings& settings);
  // Lets the two pictures go while the window is hidden (the next
  // activation copies the photo again); the texts stay.
  void ReleasePictures();

  // The dialog "Save" asks with: one type, and it opens on the name it was
  // last given.
  SaveDialog SaveJPEG;

 private:
  UserInterface* ui_;
  std::string trialFolder_;
  LayerCanvas sr_, ds_;
  std::string sourceText_, destText_;
  uint64_t compressedSize_ = 0;
};

// The JPEG save parameters of the settings (no thumbnail).
SaveParams ToSaveParams(const JpegSettings& settings);

}  // namespace velmora
