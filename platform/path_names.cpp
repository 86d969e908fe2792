#include "platform/path_names.h"

#include <cstring>
#include <random>

namespace quarn {

bool IsSingleComponentName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string TrimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentPath(const std::string& path) {
  const std::string trimmed = TrimTrailingSlashes(path);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return trimmed.substr(0, slash);
}

std::string PathMessage(std::string_view action, const std::string& path, std::string_view cause) {
  std::string message(action);
  message += ' ';
  message += path;
  message += ": ";
  message += cause;
  return message;
}

std::string ErrnoText(int error) {
  // strerror_r comes in two flavours; strerrordesc_np is neither thread-unsafe nor ambiguous.
  const char* text = strerrordesc_np(error);
  if (text != nullptr) return text;
  return "error " + std::to_string(error);
}

namespace {

constexpr char kTemporaryLetters[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::string_view kTemporaryMark = ".quarn-";
constexpr size_t kTemporaryRandomLength = 6;

}  // namespace

bool IsTemporaryNameFor(std::string_view candidate, std::string_view name) {
  const size_t expected = 1 + name.size() + kTemporaryMark.size() + kTemporaryRandomLength;
  if (name.empty() || candidate.size() != expected || candidate[0] != '.') return false;
  if (candidate.substr(1, name.size()) != name) return false;
  if (candidate.substr(1 + name.size(), kTemporaryMark.size()) != kTemporaryMark) return false;
  const std::string_view random = candidate.substr(expected - kTemporaryRandomLength);
  return random.find_first_not_of(std::string_view(kTemporaryLetters)) == std::string_view::npos;
}

std::string TemporaryNameFor(std::string_view name) {
  static constexpr const char* kLetters = kTemporaryLetters;
  static thread_local std::mt19937 generator(std::random_device{}());
  std::uniform_int_distribution<size_t> pick(0, sizeof(kTemporaryLetters) - 2);
  std::string temporary = "." + std::string(name) + std::string(kTemporaryMark);
  for (size_t i = 0; i < kTemporaryRandomLength; ++i) temporary += kLetters[pick(generator)];
  return temporary;
}

}  // namespace quarn
