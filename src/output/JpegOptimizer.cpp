#include "output/JpegOptimizer.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "document/Settings.h"
#include "document/files/AtomicFile.h"

namespace velmora {

SaveParams ToSaveParams(const JpegSettings& settings) {
  SaveParams p;
  p.jpegQuality = std::clamp(settings.quality, 1, 100);
  p.jpegSmooth = std::clamp(settings.smooth, 0, 100);
  p.jpegOptimal = settings.optimal;
  return p;
}

JpegOptimizer::JpegOptimizer(UserInterface& ui, std::string trialFolder)
    : ui_(&ui), trialFolder_(std::move(trialFolder)) {
  sr_.SetBackground(clWhite);
  ds_.SetBackground(clWhite);
  SaveJPEG.title = kSaveTitle;
  SaveJPEG.filters = {FileFilter{kSaveFilterCaption, {"*.jpg"}}};
}

std::string JpegOptimizer::TrialFolder(const std::string& exeFolder) {
  // The same rule as the settings file's: beside the program unless it is
  // installed where the user cannot write.
  return Settings::ConfigFolder(exeFolder, UserCacheFolder());
}

std::string JpegOptimizer::UserCacheFolder() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') return std::string(xdg) + "/Velmora";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.cache/Velmora";
  return "/tmp/Velmora";
}

uint64_t JpegOptimizer::Kilobytes(uint64_t bytes) {
  const uint64_t q = bytes / 1024, r = bytes % 1024;
  return q + (r > 512 || (r == 512 && (q & 1)) ? 1 : 0);
}

std::string JpegOptimizer::SourceCaption(int width, int height) {
  const uint64_t bytes = uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0)) * 3;
  return "Size " + std::to_string(Kilobytes(bytes)) + " Kb";
}

std::string JpegOptimizer::DestCaption(uint64_t compressedBytes, int quality) {
  return "Size " + std::to_string(Kilobytes(compressedBytes)) + " Kb, Quality  " + std::to_string(quality) + "%";
}

void JpegOptimizer::Activate(const IEBitmap& layer0, const JpegSettings& settings) {
  IEBitmap& source = sr_.Layer(0)->Bitmap;
  source.Assign(layer0);
  sr_.Repaint();
  sourceText_ = SourceCaption(source.Width(), source.Height());
  TryToSave(settings);
}

bool JpegOptimizer::TryToSave(const JpegSettings& settings) {
  const SaveParams params = ToSaveParams(settings);
  std::vector<uint8_t> stream;
  IOResult r = WriteJPEGToMemory(SourcePicture(), params, stream);
  std::string error;
  // The encoder gives the same bytes for the same picture and settings, so
  // the trial file is the stream itself rather than a second encoding.
  const std::string path = TrialPath();
  if (r && !WriteFileAtomically(path, stream.data(), stream.size(), error)) r = IOResult::Fail(path, error);
  IEBitmap compressed;
  if (r) r = ReadJPEG(path, compressed);
  if (!r) {
    ui_->ShowMessage(r.message, MessageKind::Error);
    return false;
  }
  compressedSize_ = stream.size();
  destText_ = DestCaption(compressedSize_, settings.quality);
  ds_.Layer(0)->Bitmap = std::move(compressed);
  ds_.Repaint();
  return true;
}

void JpegOptimizer::ReleasePictures() {
  sr_.Blank();
  ds_.Blank();
}

bool JpegOptimizer::Save(const JpegSettings& settings) {
  const std::string chosen = SaveJPEG.Execute(*ui_);
  if (chosen.empty()) return false;
  SaveJPEG.fileName = chosen;
  const std::string path = chosen + ".jpg";
  if (!MayReplace(*ui_, chosen, path)) return false;
  const IOResult r = WriteImage(path, SourcePicture(), ToSaveParams(settings));
  if (!r) {
    ui_->ShowMessage(r.message, MessageKind::Error);
    return false;
  }
  return true;
}

}  // namespace velmora
