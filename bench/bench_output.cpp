// Timings of the output on the 24-megapixel photo: the JPEG optimizer's
// TryToSave (JPEG into memory, the trial file temp.jpg, read back) and
// "Save As..." to JPEG at quality 80 with the embedded thumbnail, through
// the same commands the window runs, answered by a user who always picks
// the same file.
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <string>

#include "BenchPhoto.h"
#include "document/Document.h"
#include "document/UserInterface.h"
#include "output/JpegOptimizer.h"
#include "output/SaveAs.h"

namespace velmora {
namespace {

const std::string& Folder() {
  static const std::string dir = bench::MakeScratchFolder("output");
  return dir;
}

// Answers the save dialog with `path` and the quality dialog with 80; any
// message is an error of the run.
class BenchUI : public UserInterface {
 public:
  explicit BenchUI(std::string path) : path_(std::move(path)) {}
  void ShowMessage(const std::string& text, MessageKind) override { error = text; }
  Answer AskYesNoCancel(const std::string&) override { return Answer::Yes; }
  std::string GetOpenFileName(const std::string&, const std::vector<FileFilter>&, int) override { return {}; }
  std::string GetSaveFileName(const std::string&, const std::vector<FileFilter>&, int&,
                              const std::string&) override {
    return path_;
  }
  bool ChooseColor(Color&) override { return false; }
  int AskJpegQuality(int) override { return 80; }
  void ProcessPendingEvents() override {}
  std::string error;

 private:
  std::string path_;
};

void BM_OptimizerTryToSave24MP(benchmark::State& state) {
  BenchUI ui("");
  JpegOptimizer optimizer(ui, Folder());
  optimizer.Activate(bench::Photo(), {});
  for (auto _ : state) {
    if (!optimizer.TryToSave({}) || !ui.error.empty()) state.SkipWithError(ui.error.c_str());
    benchmark::DoNotOptimize(optimizer.CompressedSize());
  }
}
BENCHMARK(BM_OptimizerTryToSave24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveAsJpeg24MP(benchmark::State& state) {
  BenchUI ui(Folder() + "/saved.jpg");
  Document doc(ui);
  doc.Layer0() = bench::Photo();
  SaveCommands save(doc);
  for (auto _ : state) {
    if (!save.SaveAs() || !ui.error.empty()) state.SkipWithError(ui.error.c_str());
  }
}
BENCHMARK(BM_SaveAsJpeg24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velmora
