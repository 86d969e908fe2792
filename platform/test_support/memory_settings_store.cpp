#include "platform/test_support/memory_settings_store.h"

#include <utility>

namespace quarn {

MemorySettingsStore::MemorySettingsStore(std::string location) : location_(std::move(location)) {}

void MemorySettingsStore::SetText(std::string text) {
  std::lock_guard<std::mutex> hold(mutex_);
  text_ = std::move(text);
}

void MemorySettingsStore::Remove() {
  std::lock_guard<std::mutex> hold(mutex_);
  text_.reset();
}

std::optional<std::string> MemorySettingsStore::Text() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return text_;
}

void MemorySettingsStore::FailNextLoads(int count, std::string message) {
  std::lock_guard<std::mutex> hold(mutex_);
  failing_loads_ = count;
  load_failure_ = std::move(message);
}

void MemorySettingsStore::FailNextUpdates(int count, std::string message) {
  std::lock_guard<std::mutex> hold(mutex_);
  failing_updates_ = count;
  update_failure_ = std::move(message);
}

int MemorySettingsStore::update_count() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return update_count_;
}

Result<RegistryDocument> MemorySettingsStore::Load() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (failing_loads_ > 0) {
    --failing_loads_;
    return Status::Error(load_failure_);
  }
  if (!text_) return RegistryDocument();
  return ParseStoreText(*text_, location_);
}

Status MemorySettingsStore::Update(const std::function<void(RegistryDocument&)>& change) {
  std::lock_guard<std::mutex> hold(mutex_);
  ++update_count_;
  if (failing_updates_ > 0) {
    --failing_updates_;
    return Status::Error(update_failure_);
  }
  Result<RegistryDocument> document =
      text_ ? ParseStoreText(*text_, location_) : Result<RegistryDocument>(RegistryDocument());
  if (!document) return document.status();
  if (change) change(*document);
  text_ = FormatRegistryText(*document);
  return Status::Ok();
}

}  // namespace quarn
