#include "platform/path_names.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

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

std::string AbsoluteHostPath(const std::string& path, const std::string& working_directory) {
  const std::string joined =
      !path.empty() && path[0] == '/' ? path : working_directory + "/" + path;
  std::vector<std::string> components;
  size_t at = 0;
  while (at <= joined.size()) {
    size_t slash = joined.find('/', at);
    if (slash == std::string::npos) slash = joined.size();
    const std::string component = joined.substr(at, slash - at);
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    at = slash + 1;
  }
  if (components.empty()) return "/";
  std::string absolute;
  for (const std::string& component : components) absolute += "/" + component;
  return absolute;
}

std::string WorkingFolderPath() {
  std::error_code error;
  std::filesystem::path working = std::filesystem::current_path(error);
  // A deleted working folder is named "/old/path (deleted)" by some kernels' getcwd: only a
  // path that still leads to the same folder as "." is the working folder.
  if (error || !working.is_absolute() || !std::filesystem::equivalent(working, ".", error) ||
      error) {
    return "";
  }
  return working.string();
}

std::string ParentPath(const std::string& path) {
  const std::string trimmed = TrimTrailingSlashes(path);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return trimmed.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::string trimmed = TrimTrailingSlashes(path);
  const size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string PathMessage(std::string_view action, const std::string& path, std::string_view cause) {
  std::string message(action);
  message += ' ';
  message += path;
  message += ": ";
  message += cause;
  return message;
}

namespace {

Status FailureWithCause(std::string_view action, const std::string& path, std::string cause,
                        bool absent) {
  std::string message = PathMessage(action, path, cause);
  return Status::Error(std::move(message), std::move(cause), absent);
}

}  // namespace

Status ErrnoFailure(std::string_view action, const std::string& path, int error) {
  // A loop of links names nothing, as a missing name does.
  return FailureWithCause(action, path, ErrnoText(error),
                          error == ENOENT || error == ENOTDIR || error == ELOOP);
}

Status NoFollowFailure(std::string_view action, const std::string& path, int error) {
  if (error != ELOOP) return ErrnoFailure(action, path, error);
  return FailureWithCause(action, path, "is a symbolic link, which is not followed", false);
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
constexpr size_t kNameDigestLength = 8;

// FNV-1a, 32 bits: the same on every run and machine, so that the copies one run left
// behind are known to the next.
std::string NameDigest(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : name) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string digest(kNameDigestLength, '0');
  for (size_t i = kNameDigestLength; i-- > 0; hash >>= 4) digest[i] = kHex[hash & 0xF];
  return digest;
}

}  // namespace

std::string TemporaryStem(std::string_view name) {
  std::string stem = "." + std::string(name) + std::string(kTemporaryMark);
  if (stem.size() + kTemporaryRandomLength <= kMaxNameBytes) return stem;
  // The full name would pass the limit: the start of the name stays, for whoever finds a
  // copy left behind, and a digest of the whole makes it the copy of this one name.
  size_t kept =
      kMaxNameBytes - 1 - kTemporaryMark.size() - kNameDigestLength - kTemporaryRandomLength;
  while (kept > 0 && (static_cast<uint8_t>(name[kept]) & 0xC0) == 0x80) --kept;  // UTF-8
  return "." + std::string(name.substr(0, kept)) + std::string(kTemporaryMark) + NameDigest(name);
}

bool IsTemporaryNameFor(std::string_view candidate, std::string_view name) {
  if (name.empty()) return false;
  const std::string stem = TemporaryStem(name);
  if (candidate.size() != stem.size() + kTemporaryRandomLength) return false;
  if (candidate.substr(0, stem.size()) != stem) return false;
  const std::string_view random = candidate.substr(stem.size());
  return random.find_first_not_of(std::string_view(kTemporaryLetters)) == std::string_view::npos;
}

std::string TemporaryNameFor(std::string_view name) {
  static thread_local std::mt19937 generator(std::random_device{}());
  std::uniform_int_distribution<size_t> pick(0, sizeof(kTemporaryLetters) - 2);
  std::string temporary = TemporaryStem(name);
  for (size_t i = 0; i < kTemporaryRandomLength; ++i)
    temporary += kTemporaryLetters[pick(generator)];
  return temporary;
}

}  // namespace quarn
