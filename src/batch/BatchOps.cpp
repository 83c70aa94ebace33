#include "batch/BatchOps.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "imaging/Color.h"

namespace velmora::batch {

namespace {

using K = ParamKind;

std::vector<OpDefinition> BuildOperations() {
  std::vector<OpDefinition> all;
  for (auto family : {ToneOperations, FilterOperations, GeometryOperations, ReductionOperations, EnhanceOperations})
    for (auto& op : family()) all.push_back(std::move(op));
  return all;
}

std::string Trim(std::string s) {
  auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

const char* KindName(K k) {
  switch (k) {
    case K::Int: return "an integer";
    case K::Double: return "a number";
    case K::Bool: return "true or false";
    case K::Color: return "a colour";
    case K::Choice: return "one of";
  }
  return "?";
}

std::optional<ParamValue> ParseValue(const std::string& text, K kind, const std::vector<std::string>& choices) {
  const char* b = text.data();
  const char* e = b + text.size();
  switch (kind) {
    case K::Int: {
      int v = 0;
      auto [ptr, ec] = std::from_chars(b, e, v);
      if (ec != std::errc() || ptr != e) return std::nullopt;
      return v;
    }
    case K::Double: {
      if (text.empty()) return std::nullopt;
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
      return v;
    }
    case K::Bool:
      if (text == "true") return true;
      if (text == "false") return false;
      return std::nullopt;
    case K::Color: {
      auto c = ParseColorIdent(text);
      if (!c) return std::nullopt;
      return *c;
    }
    case K::Choice:
      for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i] == text) return i;
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

const std::vector<OpDefinition>& Operations() {
  static const std::vector<OpDefinition> ops = BuildOperations();
  return ops;
}

const OpDefinition* FindOperation(const std::string& name) {
  for (const auto& op : Operations())
    if (op.name == name) return &op;
  return nullptr;
}

std::optional<OpCall> ParseOperation(const std::string& text, std::string& error) {
  const std::string t = Trim(text);
  const auto space = t.find_first_of(" \t");
  const std::string name = t.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : Trim(t.substr(space + 1));
  const OpDefinition* def = FindOperation(name);
  if (!def) {
    error = "unknown operation '" + name + "'";
    return std::nullopt;
  }
  std::vector<std::string> parts;
  if (!rest.empty()) {
    std::size_t start = 0;
    for (;;) {
      const auto comma = rest.find(',', start);
      parts.push_back(Trim(rest.substr(start, comma - start)));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  if (parts.size() != def->params.size()) {
    error = "'" + t + "': " + name + " takes " + std::to_string(def->params.size()) + " parameter" +
            (def->params.size() == 1 ? "" : "s") + ", " + std::to_string(parts.size()) + " given";
    return std::nullopt;
  }
  std::vector<ParamValue> values;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    static const std::vector<std::string> kNone;
    const auto& choices = i < def->choices.size() ? def->choices[i] : kNone;
    auto v = ParseValue(parts[i], def->params[i], choices);
    if (!v) {
      error = "'" + t + "': parameter " + std::to_string(i + 1) + " ('" + parts[i] + "') must be " +
              KindName(def->params[i]);
      for (std::size_t k = 0; k < choices.size(); ++k) error += (k ? ", " : " ") + choices[k];
      return std::nullopt;
    }
    values.push_back(*v);
  }
  return OpCall{def, Args(std::move(values)), t};
}

}  // namespace velmora::batch
