#pragma once

#include <optional>
#include <string>
#include <utility>

namespace quarn {

// The outcome of a platform or tool operation. A failure carries a message for a person
// that names the file and the cause ("settings.reg, line 4: missing '='").
class Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }
  // A failure whose cause a report shows on its own ("Permission denied") beside the file's
  // name, and whether it failed because what was asked for is not there, which a caller
  // tells apart from being there but out of reach.
  static Status Error(std::string message, std::string cause, bool absent) {
    Status status(std::move(message));
    status.cause_ = std::move(cause);
    status.absent_ = absent;
    return status;
  }

  bool ok() const { return !message_.has_value(); }
  explicit operator bool() const { return ok(); }
  const std::string& message() const {
    static const std::string kEmpty;
    return message_ ? *message_ : kEmpty;
  }
  // The cause alone where the failure named one, else the whole message.
  const std::string& cause() const { return cause_.empty() ? message() : cause_; }
  bool absent() const { return absent_; }

 private:
  Status() = default;
  explicit Status(std::string message) : message_(std::move(message)) {}
  std::optional<std::string> message_;
  std::string cause_;
  bool absent_ = false;
};

// A value or the failure that kept it from being produced.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)), status_(Status::Ok()) {}
  Result(Status failure) : status_(std::move(failure)) {}

  bool ok() const { return status_.ok(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  const std::string& message() const { return status_.message(); }
  const std::string& cause() const { return status_.cause(); }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  T& operator*() { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace quarn
