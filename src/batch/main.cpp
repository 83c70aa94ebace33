// velmora-batch: one treatment applied to many photos, through the same
// processor as the editor.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "batch/BatchOps.h"
#include "document/canvas/LayerCanvas.h"
#include "document/files/ImageFile.h"
#include "imaging/Color.h"
#include "imaging/ImageProc.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::batch;

namespace {

constexpr const char* kUsage =
    R"(Usage: velmora-batch [OPTIONS] INPUT... -o DEST
Applies one treatment to many photos.

  -o DEST               the output file (one INPUT), or an existing folder
                        (names kept, extension from --format)
  --format EXT          output format when DEST is a folder (jpg, png, ppm, ...);
                        default: the input's own format
  --op "NAME ARGS"      run operation NAME with its parameters in the order of
                        its signature, separated by commas:
                          --op "HSLvar 0,0,-50"  --op "Colorize 40,50,1.1"
                          --op ConvertToGray
                        Booleans true/false; colours as a decimal packed value
                        or a colour identifier ($00BBGGRR or a name such as
                        clWhite). Repeatable; runs in order.
  --select X1,Y1,X2,Y2  select that rectangle (bitmap pixels, X2 and Y2
                        excluded) before the operations
  --mask-depth 1|8      depth of the selection mask (default 1)
  --invert-selection    invert the selection made by --select
  --feather R           feather the selection made by --select with radius R
                        (R > 0, needs --mask-depth 8); after any inversion
  --layer FILE,X,Y[,OPACITY[,clip]]
                        put the picture FILE over the photo, its top-left
                        corner at X,Y (photo pixels, may be negative), with
                        OPACITY 0..255 (default 255) limiting its coverage and,
                        with "clip", cut at the photo's edges. Repeatable,
                        stacked in order. The layers are merged into the photo
                        before the selection and the operations: a layer past
                        the right or bottom edge (without clip) widens the
                        photo, the new area in the canvas background (light
                        grey); parts left of or above the photo are lost.
  --flatten COLOUR      compose a picture with transparency over COLOUR before
                        writing (PNG otherwise keeps its alpha channel; formats
                        without one always compose over white)
  --quality Q           JPEG quality 1..100, default 80
  --smooth S            JPEG smoothing 0..100, default 0
  --optimal             JPEG optimal Huffman coding
  --thumbnail           store a 160-pixel-wide thumbnail in JPEG and TIFF files,
                        as the editor's Save As does
  --quiet               no progress output
  -h, --help            this text

Exit status: 0 every photo written, 1 some photo failed, 2 bad usage.
Operations: )";

// A picture stacked over the photo.
struct LayerOption {
  std::string file;
  int x = 0, y = 0;
  int opacity = 255;
  bool clip = false;
};

struct Options {
  std::vector<std::string> inputs;
  std::string dest;
  std::string format;
  std::vector<OpCall> ops;
  std::optional<std::array<int, 4>> select;
  int maskDepth = 1;
  bool invertSelection = false;
  std::optional<double> feather;
  std::vector<LayerOption> layers;
  std::optional<Color> flatten;
  SaveParams save;
  bool quiet = false;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "velmora-batch: " << message << " (see --help)\n";
  std::exit(2);
}

int ParseIntOption(const std::string& opt, const std::string& value, int lo, int hi) {
  try {
    std::size_t used = 0;
    const long v = std::stol(value, &used);
    if (used == value.size() && v >= lo && v <= hi) return static_cast<int>(v);
  } catch (...) {
  }
  UsageError(opt + " '" + value + "': expected an integer " + std::to_string(lo) + ".." + std::to_string(hi));
}

std::optional<int> ParseInt(const std::string& text) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used == text.size()) return v;
  } catch (...) {
  }
  return std::nullopt;
}

// FILE,X,Y[,OPACITY[,clip]]. The numbers are taken from the end, so that a
// file name may hold commas.
LayerOption ParseLayerOption(const std::string& v) {
  auto fail = [&](const std::string& why) -> LayerOption {
    UsageError("--layer '" + v + "': " + why);
  };
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const auto comma = v.find(',', start);
    parts.push_back(v.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  LayerOption l;
  l.clip = parts.size() >= 5 && parts.back() == "clip";
  if (l.clip) parts.pop_back();
  std::size_t numbers = 0;
  while (numbers < 3 && numbers + 1 < parts.size() && ParseInt(parts[parts.size() - 1 - numbers])) ++numbers;
  if (numbers < 2 || (l.clip && numbers < 3)) return fail("expected FILE,X,Y[,OPACITY[,clip]]");
  const std::size_t first = parts.size() - numbers;
  l.x = *ParseInt(parts[first]);
  l.y = *ParseInt(parts[first + 1]);
  if (numbers == 3) {
    l.opacity = *ParseInt(parts[first + 2]);
    if (l.opacity < 0 || l.opacity > 255) return fail("the opacity must be 0..255");
  }
  for (std::size_t i = 0; i < first; ++i) {
    if (i) l.file += ',';
    l.file += parts[i];
  }
  if (l.file.empty()) return fail("no file given");
  return l;
}

Options ParseArguments(int argc, char** argv) {
  Options o;
  auto needValue = [&](int& i) -> std::string {
    if (i + 1 >= argc) UsageError(std::string(argv[i]) + " needs a value");
    return argv[++i];
  };
  bool onlyInputs = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (onlyInputs || a.empty() || a[0] != '-' || a == "-") {
      o.inputs.push_back(a);
    } else if (a == "--") {
      onlyInputs = true;
    } else if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      const char* sep = "";
      for (const auto& op : Operations()) {
        std::cout << sep << op.name;
        sep = ", ";
      }
      std::cout << "\n";
      std::exit(0);
    } else if (a == "-o") {
      o.dest = needValue(i);
    } else if (a == "--format") {
      o.format = LowerExtension("x." + needValue(i));
      if (!IsWritableExtension(o.format)) UsageError("--format '" + std::string(argv[i]) + "': not a writable format");
    } else if (a == "--op") {
      std::string error;
      auto call = ParseOperation(needValue(i), error);
      if (!call) UsageError("--op " + error);
      o.ops.push_back(std::move(*call));
    } else if (a == "--select") {
      const std::string v = needValue(i);
      std::array<int, 4> r{};
      int n = 0;
      std::size_t start = 0;
      bool ok = true;
      while (ok && n < 4) {
        const auto comma = v.find(',', start);
        const std::string part = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        try {
          std::size_t used = 0;
          r[n++] = std::stoi(part, &used);
          ok = used == part.size();
        } catch (...) {
          ok = false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
        if (n == 4) ok = false;
      }
      if (!ok || n != 4 || r[0] >= r[2] || r[1] >= r[3])
        UsageError("--select '" + v + "': expected X1,Y1,X2,Y2 with X1 < X2 and Y1 < Y2");
      o.select = r;
    } else if (a == "--mask-depth") {
      const std::string v = needValue(i);
      if (v != "1" && v != "8") UsageError("--mask-depth '" + v + "': expected 1 or 8");
      o.maskDepth = v == "8" ? 8 : 1;
    } else if (a == "--invert-selection") {
      o.invertSelection = true;
    } else if (a == "--feather") {
      const std::string v = needValue(i);
      double r = 0;
      try {
        std::size_t used = 0;
        r = std::stod(v, &used);
        if (used != v.size()) r = 0;
      } catch (...) {
        r = 0;
      }
      if (!(r > 0) || !std::isfinite(r)) UsageError("--feather '" + v + "': expected a radius greater than 0");
      o.feather = r;
    } else if (a == "--layer") {
      o.layers.push_back(ParseLayerOption(needValue(i)));
    } else if (a == "--flatten") {
      const std::string v = needValue(i);
      o.flatten = ParseColorIdent(v);
      if (!o.flatten) UsageError("--flatten '" + v + "': expected a colour ($00BBGGRR, a decimal value or a name)");
    } else if (a == "--quality") {
      o.save.jpegQuality = ParseIntOption(a, needValue(i), 1, 100);
    } else if (a == "--smooth") {
      o.save.jpegSmooth = ParseIntOption(a, needValue(i), 0, 100);
    } else if (a == "--optimal") {
      o.save.jpegOptimal = true;
    } else if (a == "--thumbnail") {
      o.save.embedThumbnail = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else {
      UsageError("unknown option '" + a + "'");
    }
  }
  if (o.inputs.empty()) UsageError("no input photo given");
  if (o.dest.empty()) UsageError("no destination given (-o DEST)");
  if ((o.invertSelection || o.feather) && !o.select)
    UsageError(std::string(o.feather ? "--feather" : "--invert-selection") + " needs a selection (--select)");
  if (o.feather && o.maskDepth != 8) UsageError("--feather needs an 8-bit selection (--mask-depth 8)");
  return o;
}

// Progress on stderr: one line per photo, with a bar while it is a terminal.
class ProgressLine {
 public:
  ProgressLine(bool quiet, std::string name) : quiet_(quiet), tty_(isatty(STDERR_FILENO)), name_(std::move(name)) {}
  void Update(int percent) {
    if (quiet_ || !tty_ || percent == last_) return;
    last_ = percent;
    const int filled = std::clamp(percent, 0, 100) * 30 / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", name_.c_str(), filled, "##############################",
                 30 - filled, "", percent);
    std::fflush(stderr);
  }
  void Done(const std::string& outcome) {
    if (quiet_) return;
    if (tty_) std::fprintf(stderr, "\r\033[K");
    std::fprintf(stderr, "%s -> %s\n", name_.c_str(), outcome.c_str());
  }

 private:
  bool quiet_, tty_;
  std::string name_;
  int last_ = -1;
};

std::string SelectionText(const std::array<int, 4>& s) {
  return std::to_string(s[0]) + "," + std::to_string(s[1]) + "," + std::to_string(s[2]) + "," + std::to_string(s[3]);
}

// Reads, stacks, merges, treats and writes one photo on a canvas. Returns
// an error message or "".
std::string ProcessOne(const Options& o, const std::string& input, const std::string& output) {
  LayerCanvas canvas;
  if (IOResult r = canvas.IO().LoadFromFile(input); !r) return r.message;
  if (!o.layers.empty()) {
    for (const LayerOption& l : o.layers) {
      IEBitmap picture;
      if (IOResult r = ReadImage(l.file, picture); !r) return input + ": layer " + r.message;
      canvas.AddLayer(std::move(picture));
      IELayer& layer = canvas.CurrentLayer();
      layer.LayerX = l.x;
      layer.LayerY = l.y;
      layer.Opacity = l.opacity;
      layer.ClipToBase = l.clip;
    }
    if (!canvas.MergeAllLayers())
      return input + ": the layers cannot be merged: the result would exceed " +
             std::to_string(DefaultImageLimits().maxSide) + " pixels a side, " +
             std::to_string(DefaultImageLimits().maxPixels / 1'000'000) + " megapixels or the memory";
  }
  const int w = canvas.CurrentBitmap().Width(), h = canvas.CurrentBitmap().Height();
  if (o.select) {
    const auto& s = *o.select;
    const std::string size = std::to_string(w) + " x " + std::to_string(h) + " picture";
    if (s[0] >= w || s[1] >= h || s[2] <= 0 || s[3] <= 0)
      return input + ": the selection " + SelectionText(s) + " lies outside the " + size;
    canvas.SelectionMaskDepth(o.maskDepth);
    canvas.SelectRect(s[0], s[1], s[2], s[3]);
    if (o.invertSelection) canvas.InvertSelection();
    if (o.feather) canvas.FeatherSelection(*o.feather);
    if (!canvas.HasSelection())
      return input + ": inverting the selection " + SelectionText(s) + " leaves nothing of the " + size;
  }
  ImageProc& proc = canvas.Proc();
  proc.AutoUndo = false;  // nothing to undo on the command line
  ProgressLine progress(o.quiet, input);
  canvas.OnProgress = [&](int p) { progress.Update(p); };
  for (const auto& op : o.ops) op.def->run(proc, op.args);
  IEBitmap& bmp = canvas.CurrentBitmap();
  if (o.flatten && bmp.HasAlphaChannel()) bmp.RemoveAlphaChannel(true, *o.flatten);
  canvas.IO().Params = o.save;
  if (IOResult r = canvas.IO().SaveToFile(output); !r) {
    progress.Done("failed");
    return r.message;
  }
  progress.Done(output);
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArguments(argc, argv);
  std::error_code ec;
  const bool destIsFolder = fs::is_directory(o.dest, ec);
  if (o.inputs.size() > 1 && !destIsFolder)
    UsageError("-o '" + o.dest + "' must be an existing folder when several photos are given");
  if (!destIsFolder && !IsWritableExtension(LowerExtension(o.dest)))
    UsageError("-o '" + o.dest + "': unknown output format '" + LowerExtension(o.dest) + "'");

  std::vector<std::string> failures;
  std::map<std::string, std::string> outputs;  // output -> the input it came from
  for (const auto& input : o.inputs) {
    std::string output = o.dest;
    if (destIsFolder) {
      std::string ext = o.format.empty() ? LowerExtension(input) : o.format;
      if (!IsWritableExtension(ext)) {
        failures.push_back(input + ": cannot write '" + ext + "' files; choose one with --format");
        std::cerr << "velmora-batch: " << failures.back() << "\n";
        continue;
      }
      output = (fs::path(o.dest) / fs::path(input).stem()).string() + "." + ext;
    }
    if (auto [it, inserted] = outputs.emplace(output, input); !inserted) {
      failures.push_back(input + ": would overwrite " + output + ", written from " + it->second);
      std::cerr << "velmora-batch: " << failures.back() << "\n";
      continue;
    }
    const std::string error = ProcessOne(o, input, output);
    if (!error.empty()) {
      failures.push_back(error);
      std::cerr << "velmora-batch: " << error << "\n";
    }
  }
  if (!failures.empty()) {
    if (o.inputs.size() > 1) {
      std::cerr << "velmora-batch: " << failures.size() << " of " << o.inputs.size() << " photos failed:\n";
      for (const auto& f : failures) std::cerr << "  " << f << "\n";
    }
    return 1;
  }
  return 0;
}
