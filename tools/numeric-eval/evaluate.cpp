#include "tools/numeric-eval/evaluate.h"

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "runtime/numeric.h"

namespace numeric_eval {
namespace {

constexpr size_t kDoubleDigits = 16;
constexpr size_t kLongestInt = 11;  // "-2147483648"

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "'" + std::string + "'".
std::string Error(std::string_view reason) {
  std::string text = "error: ";
  text.append(reason);
  return text;
}

std::string Quoted(std::string_view word) {
  std::string text = "'";
  text.append(word);
  text.push_back('\'');
  return text;
}

bool ParseDouble(std::string_view text, double* value) {
  if (text.size() != kDoubleDigits) return false;
  uint64_t bits = 0;
  for (const char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    bits = bits << 4 | static_cast<uint64_t>(digit);
  }
  *value = std::bit_cast<double>(bits);
  return true;
}

bool ParseInt(std::string_view text, int32_t* value) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || text.size() > kLongestInt) return false;
  int64_t magnitude = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
  }
  const int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value < INT32_MIN || signed_value > INT32_MAX) return false;
  *value = static_cast<int32_t>(signed_value);
  return true;
}

std::string FormatDouble(double x) {
  char text[kDoubleDigits + 1];
  std::snprintf(text, sizeof text, "%016" PRIx64, std::bit_cast<uint64_t>(x));
  return text;
}

// What follows the first argument, always a double.
enum class Second { None, Int, Double };

struct Entry {
  const char* name;
  Second second;
  std::string (*run)(double x, double y, int32_t n);
};

const Entry kRoutines[] = {
    {"AbsoluteValue", Second::None,
     [](double x, double, int32_t) { return FormatDouble(runtime::AbsoluteValue(x)); }},
    {"ToDouble", Second::None,
     [](double x, double, int32_t) { return FormatDouble(runtime::ToDouble(x)); }},
    {"FloorToInt", Second::None,
     [](double x, double, int32_t) { return std::to_string(runtime::FloorToInt(x)); }},
    {"IntegerPower", Second::Int,
     [](double x, double, int32_t n) { return FormatDouble(runtime::IntegerPower(x, n)); }},
    {"ScaleByPowerOfTwo", Second::Int,
     [](double x, double, int32_t n) { return FormatDouble(runtime::ScaleByPowerOfTwo(x, n)); }},
    {"SplitExponent", Second::None,
     [](double x, double, int32_t) {
       int32_t e = 0;
       const double m = runtime::SplitExponent(x, &e);
       return FormatDouble(m) + " " + std::to_string(e);
     }},
    {"Exponential", Second::None,
     [](double x, double, int32_t) { return FormatDouble(runtime::Exponential(x)); }},
    {"NaturalLog", Second::None,
     [](double x, double, int32_t) { return FormatDouble(runtime::NaturalLog(x)); }},
    {"RealPower", Second::Double,
     [](double x, double y, int32_t) { return FormatDouble(runtime::RealPower(x, y)); }},
};

}  // namespace

std::string EvaluateLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // a line ended CR LF
  if (line.empty()) return Error("empty line");
  if (line.find('\0') != std::string_view::npos) return Error("line holds a zero byte");

  std::vector<std::string_view> words;
  for (size_t start = 0;;) {
    const size_t space = line.find(' ', start);
    words.push_back(line.substr(start, space == std::string_view::npos ? space : space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  for (const std::string_view word : words) {
    if (word.empty()) return Error("words must be separated by single spaces");
  }

  const Entry* entry = nullptr;
  for (const Entry& candidate : kRoutines) {
    if (words[0] == candidate.name) entry = &candidate;
  }
  if (entry == nullptr) return Error("unknown routine " + Quoted(words[0]));

  const int expected = entry->second == Second::None ? 1 : 2;
  const int given = static_cast<int>(words.size()) - 1;
  if (given != expected) {
    return Error(std::string(entry->name) + " takes " + std::to_string(expected) +
                 (expected == 1 ? " argument, got " : " arguments, got ") + std::to_string(given));
  }

  double x = 0.0;
  double y = 0.0;
  int32_t n = 0;
  if (!ParseDouble(words[1], &x)) {
    return Error("argument 1 " + Quoted(words[1]) + " is not 16 hex digits");
  }
  if (entry->second == Second::Int && !ParseInt(words[2], &n)) {
    return Error("argument 2 " + Quoted(words[2]) + " is not a 32-bit decimal integer");
  }
  if (entry->second == Second::Double && !ParseDouble(words[2], &y)) {
    return Error("argument 2 " + Quoted(words[2]) + " is not 16 hex digits");
  }
  return entry->run(x, y, n);
}

}  // namespace numeric_eval
