#include "print/PdfPage.h"

#include <zlib.h>

#include <QFile>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>

namespace velmora::test {
namespace {

struct Object {
  std::string dict;    // "<< ... >>", or the plain body
  bool hasStream = false;
  std::size_t streamStart = 0;  // offset of the stream's first byte in the file
};

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool IsDelimiter(char c) { return IsSpace(c) || c == '/' || c == '<' || c == '>' || c == '[' || c == ']' || c == '(' || c == ')'; }

std::size_t SkipSpace(const std::string& s, std::size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

// The text after `key` (a name such as "/Length") in a dictionary, from its
// first non-space character; npos when the key is absent.
std::size_t ValueAt(const std::string& dict, const std::string& key) {
  for (std::size_t i = dict.find(key); i != std::string::npos; i = dict.find(key, i + 1)) {
    const std::size_t end = i + key.size();
    if (end < dict.size() && IsDelimiter(dict[end])) return SkipSpace(dict, end);
  }
  return std::string::npos;
}

std::string Token(const std::string& s, std::size_t i) {
  std::size_t j = i + (i < s.size() && s[i] == '/' ? 1 : 0);
  while (j < s.size() && !IsDelimiter(s[j])) ++j;
  return s.substr(i, j - i);
}

// An integer value, or the object number of a reference "N 0 R".
std::optional<long> IntValue(const std::string& dict, const std::string& key, bool* isReference = nullptr) {
  const std::size_t at = ValueAt(dict, key);
  if (at == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const long v = std::strtol(dict.c_str() + at, &end, 10);
  if (end == dict.c_str() + at) return std::nullopt;
  std::istringstream rest(dict.substr(end - dict.c_str(), 16));
  std::string gen, r;
  rest >> gen >> r;
  if (isReference) *isReference = (r == "R");
  return v;
}

std::optional<std::string> Inflate(const std::string& in) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return std::nullopt;
  std::string out;
  char buffer[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

// A PDF literal string starting at '('; UTF-16 text (with its byte-order
// mark) is reduced to its ASCII characters.
std::string LiteralString(const std::string& s, std::size_t i) {
  std::string raw;
  int depth = 0;
  for (++i; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      raw += s[++i];
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && depth-- == 0) break;
    raw += c;
  }
  if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFE && static_cast<uint8_t>(raw[1]) == 0xFF) {
    std::string ascii;
    for (std::size_t k = 3; k < raw.size(); k += 2) ascii += raw[k];
    return ascii;
  }
  return raw;
}

// [a b c d e f] maps (x, y) to (a x + c y + e, b x + d y + f).
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  QPointF Map(double x, double y) const { return {a * x + c * y + e, b * x + d * y + f}; }
};
// `first`, then `second`.
Matrix Then(const Matrix& first, const Matrix& second) {
  return {first.a * second.a + first.b * second.c,
          first.a * second.b + first.b * second.d,
          first.c * second.a + first.d * second.c,
          first.c * second.b + first.d * second.d,
          first.e * second.a + first.f * second.c + second.e,
          first.e * second.b + first.f * second.d + second.f};
}

QRectF Bounds(const std::vector<QPointF>& points) {
  if (points.empty()) return {};
  double x1 = points[0].x(), x2 = x1, y1 = points[0].y(), y2 = y1;
  for (const QPointF& p : points) {
    x1 = std::min(x1, p.x());
    x2 = std::max(x2, p.x());
    y1 = std::min(y1, p.y());
    y2 = std::max(y2, p.y());
  }
  return QRectF(QPointF(x1, y1), QPointF(x2, y2));
}

class Reader {
 public:
  explicit Reader(std::string data) : data_(std::move(data)) {}

  PdfPage Read() {
    PdfPage page;
    if (!ReadObjects(page.problem)) return page;
    std::optional<int> pageObject;
    for (const auto& [number, object] : objects_) {
      const std::size_t type = ValueAt(object.dict, "/Type");
      const std::string kind = type == std::string::npos ? std::string() : Token(object.dict, type);
      if (kind == "/Page") pageObject = pageObject ? -1 : static_cast<int>(number);
      if (kind == "/Pages") page.pageCount = static_cast<int>(IntValue(object.dict, "/Count").value_or(0));
      if (const std::size_t t = ValueAt(object.dict, "/Title"); t != std::string::npos && object.dict[t] == '(')
        page.title = LiteralString(object.dict, t);
    }
    if (!pageObject || *pageObject < 0) return Fail(page, "not exactly one page object");
    const std::string& dict = objects_[*pageObject].dict;
    const std::size_t box = ValueAt(dict, "/MediaBox");
    if (box == std::string::npos || dict[box] != '[') return Fail(page, "no media box");
    std::istringstream numbers(dict.substr(box + 1, dict.find(']', box) - box - 1));
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    numbers >> x1 >> y1 >> x2 >> y2;
    page.mediaWidth = x2 - x1;
    page.mediaHeight = y2 - y1;

    std::map<std::string, int> xobjects;
    if (!ReadXObjects(dict, xobjects)) return Fail(page, "unreadable resources");
    const auto contents = IntValue(dict, "/Contents");
    if (!contents || !objects_.count(*contents)) return Fail(page, "no contents");
    const auto content = Decoded(objects_[*contents]);
    if (!content) return Fail(page, "undecodable contents");
    if (!RunContent(*content, xobjects, page)) return Fail(page, page.problem);
    page.valid = true;
    return page;
  }

 private:
  static PdfPage Fail(PdfPage& page, const std::string& why) {
    page.valid = false;
    page.problem = why;
    return page;
  }

  // Every object through the cross-reference table, which must point at
  // "N 0 obj" for each entry in use.
  bool ReadObjects(std::string& problem) {
    if (data_.rfind("%PDF-", 0) != 0) return problem = "no PDF header", false;
    const std::size_t sx = data_.rfind("startxref");
    if (sx == std::string::npos || data_.find("%%EOF", sx) == std::string::npos)
      return problem = "no startxref or %%EOF", false;
    const std::size_t xref = std::strtoul(data_.c_str() + SkipSpace(data_, sx + 9), nullptr, 10);
    if (data_.compare(xref, 4, "xref") != 0) return problem = "startxref does not point at xref", false;
    std::istringstream table(data_.substr(xref + 4));
    std::string word;
    while (table >> word && word != "trailer") {
      const long first = std::strtol(word.c_str(), nullptr, 10);
      long count = 0;
      table >> count;
      for (long k = 0; k < count; ++k) {
        std::string offset, generation, kind;
        table >> offset >> generation >> kind;
        if (kind != "n") continue;
        const long number = first + k;
        if (!ReadObject(number, std::strtoul(offset.c_str(), nullptr, 10)))
          return problem = "xref entry " + std::to_string(number) + " does not point at its object", false;
      }
    }
    if (objects_.empty()) return problem = "empty xref", false;
    return true;
  }

  bool ReadObject(long number, std::size_t at) {
    const std::string head = std::to_string(number) + " 0 obj";
    if (data_.compare(at, head.size(), head) != 0) return false;
    std::size_t i = SkipSpace(data_, at + head.size());
    Object object;
    if (data_.compare(i, 2, "<<") == 0) {
      int depth = 0;
      std::size_t j = i;
      for (; j + 1 < data_.size(); ++j) {
        if (data_.compare(j, 2, "<<") == 0) ++depth, ++j;
        else if (data_.compare(j, 2, ">>") == 0 && (++j, --depth == 0)) break;
      }
      object.dict = data_.substr(i, j + 1 - i);
      i = SkipSpace(data_, j + 1);
      if (data_.compare(i, 6, "stream") == 0) {
        i += 6;
        if (data_[i] == '\r') ++i;
        if (data_[i] == '\n') ++i;
        object.hasStream = true;
        object.streamStart = i;
      }
    } else {
      object.dict = data_.substr(i, data_.find("endobj", i) - i);
    }
    objects_[number] = std::move(object);
    return true;
  }

  // The stream's bytes, through /Length (resolved now that every object is known).
  std::optional<std::string> Raw(const Object& object) {
    bool reference = false;
    auto length = IntValue(object.dict, "/Length", &reference);
    if (!length) return std::nullopt;
    if (reference) {
      if (!objects_.count(*length)) return std::nullopt;
      length = std::strtol(objects_[*length].dict.c_str(), nullptr, 10);
    }
    if (!object.hasStream || *length < 0 || object.streamStart + *length > data_.size()) return std::nullopt;
    return data_.substr(object.streamStart, *length);
  }

  std::optional<std::string> Decoded(const Object& object) {
    auto raw = Raw(object);
    if (!raw) return std::nullopt;
    const std::size_t filter = ValueAt(object.dict, "/Filter");
    if (filter == std::string::npos) return raw;
    if (Token(object.dict, filter) != "/FlateDecode") return std::nullopt;
    return Inflate(*raw);
  }

  bool ReadXObjects(const std::string& pageDict, std::map<std::string, int>& out) {
    std::string resources;
    const std::size_t r = ValueAt(pageDict, "/Resources");
    if (r == std::string::npos) return false;
    if (pageDict[r] == '<') {
      resources = pageDict.substr(r);
    } else {
      const auto number = IntValue(pageDict, "/Resources");
      if (!number || !objects_.count(*number)) return false;
      resources = objects_[*number].dict;
    }
    const std::size_t x = ValueAt(resources, "/XObject");
    if (x == std::string::npos) return true;
    std::istringstream items(resources.substr(x + 2, resources.find(">>", x) - x - 2));
    std::string name, number, generation, r2;
    while (items >> name >> number >> generation >> r2) out[name] = std::atoi(number.c_str());
    return true;
  }

  // Follows the graphics state through the content stream.
  bool RunContent(const std::string& content, const std::map<std::string, int>& xobjects, PdfPage& page) {
    struct State {
      Matrix ctm;
      QRectF clip;
    };
    std::vector<State> stack{State{}};
    std::vector<double> operands;
    std::string lastName;
    std::vector<QPointF> path;
    bool pendingClip = false;
    const auto flipped = [&page](const QRectF& r) {
      return QRectF(r.x(), page.mediaHeight - r.bottom(), r.width(), r.height());
    };
    std::istringstream tokens(content);
    std::string t;
    while (tokens >> t) {
      State& s = stack.back();
      if (t[0] == '/') {
        lastName = t;
      } else if (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-' || t[0] == '.') {
        operands.push_back(std::strtod(t.c_str(), nullptr));
        continue;
      } else if (t == "q") {
        stack.push_back(s);
      } else if (t == "Q") {
        if (stack.size() < 2) return page.problem = "unbalanced Q", false;
        stack.pop_back();
      } else if (t == "cm" && operands.size() >= 6) {
        const double* m = &operands[operands.size() - 6];
        s.ctm = Then(Matrix{m[0], m[1], m[2], m[3], m[4], m[5]}, s.ctm);
      } else if ((t == "m" || t == "l") && operands.size() >= 2) {
        path.push_back(s.ctm.Map(operands[operands.size() - 2], operands.back()));
      } else if (t == "re" && operands.size() >= 4) {
        const double* v = &operands[operands.size() - 4];
        for (const auto& [dx, dy] : {std::pair{0.0, 0.0}, {v[2], 0.0}, {0.0, v[3]}, {v[2], v[3]}})
          path.push_back(s.ctm.Map(v[0] + dx, v[1] + dy));
      } else if (t == "W" || t == "W*") {
        pendingClip = true;
      } else if (t == "n" || t == "f" || t == "f*" || t == "S" || t == "B" || t == "b") {
        if (pendingClip) {
          const QRectF r = flipped(Bounds(path));
          s.clip = s.clip.isNull() ? r : s.clip.intersected(r);
        }
        pendingClip = false;
        path.clear();
      } else if (t == "Do") {
        const auto it = xobjects.find(lastName);
        if (it == xobjects.end() || !objects_.count(it->second)) return page.problem = "unknown XObject " + lastName, false;
        const Object& object = objects_[it->second];
        PdfImage image;
        image.width = static_cast<int>(IntValue(object.dict, "/Width").value_or(0));
        image.height = static_cast<int>(IntValue(object.dict, "/Height").value_or(0));
        if (const std::size_t cs = ValueAt(object.dict, "/ColorSpace"); cs != std::string::npos)
          image.colorSpace = Token(object.dict, cs).substr(1);
        const auto samples = Decoded(object);
        if (!samples) return page.problem = "undecodable image " + lastName, false;
        image.pixels.assign(samples->begin(), samples->end());
        image.placed = flipped(Bounds({s.ctm.Map(0, 0), s.ctm.Map(1, 0), s.ctm.Map(0, 1), s.ctm.Map(1, 1)}));
        image.clip = s.clip;
        page.images.push_back(std::move(image));
      }
      operands.clear();
    }
    return true;
  }

  std::string data_;
  std::map<long, Object> objects_;
};

}  // namespace

PdfPage ReadPdf(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    PdfPage page;
    page.problem = "cannot open " + path.toStdString();
    return page;
  }
  const QByteArray bytes = file.readAll();
  return Reader(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()))).Read();
}

}  // namespace velmora::test
