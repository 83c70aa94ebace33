// The operations velmora-batch can run, by name, with typed parameters in
// the order of each operation's signature.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "imaging/ImageProc.h"

namespace velmora::batch {

// Choice: one of a fixed list of names (OpDefinition::choices), passed as its index.
enum class ParamKind { Int, Double, Bool, Color, Choice };

using ParamValue = std::variant<int, double, bool, uint32_t, std::size_t>;

class Args {
 public:
  explicit Args(std::vector<ParamValue> values) : values_(std::move(values)) {}
  int Int(std::size_t i) const { return std::get<int>(values_.at(i)); }
  double Double(std::size_t i) const { return std::get<double>(values_.at(i)); }
  bool Bool(std::size_t i) const { return std::get<bool>(values_.at(i)); }
  uint32_t Color(std::size_t i) const { return std::get<uint32_t>(values_.at(i)); }
  std::size_t Choice(std::size_t i) const { return std::get<std::size_t>(values_.at(i)); }

 private:
  std::vector<ParamValue> values_;
};

struct OpDefinition {
  std::string name;
  std::vector<ParamKind> params;
  std::function<void(ImageProc&, const Args&)> run;
  // For each Choice parameter, by parameter index: the names it accepts.
  std::vector<std::vector<std::string>> choices = {};
};

// The operations of each family, one list per source file in ops/.
std::vector<OpDefinition> ToneOperations();
std::vector<OpDefinition> FilterOperations();
std::vector<OpDefinition> GeometryOperations();
std::vector<OpDefinition> ReductionOperations();
std::vector<OpDefinition> EnhanceOperations();

// Every operation the command line knows.
const std::vector<OpDefinition>& Operations();
const OpDefinition* FindOperation(const std::string& name);

// An operation with its parsed parameters, ready to run.
struct OpCall {
  const OpDefinition* def = nullptr;  // the operation called
  Args args{{}};
  std::string text;  // as given, for messages
};

// Parses "NAME ARGS" ("HSLvar 0,0,-50", "ConvertToGray"). On failure returns
// nullopt and sets `error` to a one-line reason.
std::optional<OpCall> ParseOperation(const std::string& text, std::string& error);

}  // namespace velmora::batch
