// SPDX-License-Identifier: Apache-2.0
// The C interface: handles, statuses and messages around the C++ engine. No exception and no
// C++ type crosses it.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <quarn/quarn.h>
#include "library/installed_data_folder.h"
#include "library/library_scan.h"

struct quarn_engine {
  std::shared_ptr<const quarn::DatabaseSet> databases;
  std::atomic<int> scans_running{0};
};

struct quarn_scan_options {
  quarn::ScanRequest request;
};

namespace {

void Tell(char** message, const std::string& text) {
  if (message == nullptr) return;
  *message = static_cast<char*>(std::malloc(text.size() + 1));
  if (*message != nullptr) std::memcpy(*message, text.c_str(), text.size() + 1);
}

quarn_status Fail(char** message, quarn_status status, const std::string& text) {
  Tell(message, text);
  return status;
}

// Keeps the engine from being freed while a scan runs on it.
class RunningScan {
 public:
  explicit RunningScan(quarn_engine* engine) : engine_(engine) { ++engine_->scans_running; }
  ~RunningScan() { --engine_->scans_running; }
  RunningScan(const RunningScan&) = delete;
  RunningScan& operator=(const RunningScan&) = delete;

 private:
  quarn_engine* engine_;
};

// Runs one scan behind the interface's rules: arguments checked, the callback's wish to stop
// turned into QUARN_CANCELLED, and nothing thrown to a C caller.
template <typename Scan>
quarn_status GuardedScan(quarn_engine* engine, const quarn_scan_options* options,
                         quarn_event_callback callback, void* context, char** message, Scan scan) {
  if (message != nullptr) *message = nullptr;
  if (engine == nullptr) return Fail(message, QUARN_EINVAL, "no engine");
  if (callback == nullptr) return Fail(message, QUARN_EINVAL, "no callback");
  try {
    RunningScan running(engine);
    const quarn::ScanRequest request = options != nullptr ? options->request : quarn::ScanRequest{};
    const quarn::EventSink sink = [&](const std::string& event) {
      return callback(event.c_str(), context) == 0;
    };
    quarn::Result<quarn::ScanEnd> end = scan(*engine->databases, request, sink);
    if (!end) return Fail(message, QUARN_ETARGET, end.message());
    return *end == quarn::ScanEnd::kStoppedBySink ? QUARN_CANCELLED : QUARN_OK;
  } catch (const std::bad_alloc&) {
    return Fail(message, QUARN_EINTERNAL, "out of memory");
  } catch (const std::exception& failure) {
    return Fail(message, QUARN_EINTERNAL, failure.what());
  } catch (...) {
    return Fail(message, QUARN_EINTERNAL, "an unknown failure of the library");
  }
}

}  // namespace

extern "C" {

const char* quarn_version(void) {
  return QUARN_VERSION;
}

quarn_status quarn_engine_open(const char* data_dir, quarn_engine** engine, char** message) {
  if (message != nullptr) *message = nullptr;
  if (engine == nullptr) return Fail(message, QUARN_EINVAL, "no place for the engine");
  *engine = nullptr;
  try {
    std::string folder = data_dir != nullptr ? data_dir : "";
    if (data_dir == nullptr) {
      folder = quarn::InstalledDataFolder(quarn::LoadedLibraryFile());
      if (folder.empty()) {
        return Fail(message, QUARN_EDATABASE,
                    "no data folder installed with the library (share/quarnexp beside its lib)");
      }
    }
    auto databases = quarn::LoadDatabaseSet(folder);
    if (!databases) return Fail(message, QUARN_EDATABASE, databases.message());
    auto opened = std::make_unique<quarn_engine>();
    opened->databases = std::move(*databases);
    *engine = opened.release();
    return QUARN_OK;
  } catch (const std::bad_alloc&) {
    return Fail(message, QUARN_EINTERNAL, "out of memory");
  } catch (const std::exception& failure) {
    return Fail(message, QUARN_EINTERNAL, failure.what());
  }
}

quarn_status quarn_engine_close(quarn_engine* engine) {
  if (engine == nullptr) return QUARN_EINVAL;
  if (engine->scans_running.load() != 0) return QUARN_EBUSY;
  delete engine;
  return QUARN_OK;
}

quarn_scan_options* quarn_scan_options_new(void) {
  return new (std::nothrow) quarn_scan_options();
}

void quarn_scan_options_free(quarn_scan_options* options) {
  delete options;
}

quarn_status quarn_scan_options_set(quarn_scan_options* options, const char* name,
                                    const char* value, char** message) {
  if (message != nullptr) *message = nullptr;
  if (options == nullptr || name == nullptr || value == nullptr) {
    return Fail(message, QUARN_EINVAL, "no options, name or value");
  }
  try {
    quarn::ScanRequest changed = options->request;
    quarn::Status set = quarn::SetScanOption(changed, name, value);
    if (!set) return Fail(message, QUARN_EINVAL, set.message());
    options->request = changed;
    return QUARN_OK;
  } catch (const std::exception& failure) {
    return Fail(message, QUARN_EINTERNAL, failure.what());
  }
}

quarn_status quarn_scan_path(quarn_engine* engine, const char* path,
                             const quarn_scan_options* options, quarn_event_callback callback,
                             void* context, char** message) {
  if (path == nullptr) {
    return Fail(message, QUARN_EINVAL, "no path");
  }
  return GuardedScan(engine, options, callback, context, message,
                     [&](const quarn::DatabaseSet& databases, const quarn::ScanRequest& request,
                         const quarn::EventSink& sink) {
                       return quarn::ScanPathToSink(databases, path, request, sink);
                     });
}

quarn_status quarn_scan_paths(quarn_engine* engine, const char* const* paths, size_t count,
                              const quarn_scan_options* options, quarn_event_callback callback,
                              void* context, char** message) {
  if (paths == nullptr && count != 0) {
    return Fail(message, QUARN_EINVAL, "no paths");
  }
  for (size_t i = 0; i < count; ++i) {
    if (paths[i] == nullptr) {
      return Fail(message, QUARN_EINVAL, "path " + std::to_string(i) + " is null");
    }
  }
  return GuardedScan(engine, options, callback, context, message,
                     [&](const quarn::DatabaseSet& databases, const quarn::ScanRequest& request,
                         const quarn::EventSink& sink) {
                       return quarn::ScanPathsToSink(databases,
                                                     std::vector<std::string>(paths, paths + count),
                                                     request, sink);
                     });
}

quarn_status quarn_scan_fd(quarn_engine* engine, int fd, const quarn_scan_options* options,
                           quarn_event_callback callback, void* context, char** message) {
  return GuardedScan(engine, options, callback, context, message,
                     [&](const quarn::DatabaseSet& databases, const quarn::ScanRequest& request,
                         const quarn::EventSink& sink) {
                       return quarn::ScanDescriptorToSink(databases, fd, request, sink);
                     });
}

quarn_status quarn_scan_buffer(quarn_engine* engine, const void* data, size_t size,
                               const char* name, const quarn_scan_options* options,
                               quarn_event_callback callback, void* context, char** message) {
  if (data == nullptr && size != 0) {
    return Fail(message, QUARN_EINVAL, "no data");
  }
  const std::span<const uint8_t> bytes(static_cast<const uint8_t*>(data), size);
  return GuardedScan(engine, options, callback, context, message,
                     [&](const quarn::DatabaseSet& databases, const quarn::ScanRequest& request,
                         const quarn::EventSink& sink) {
                       return quarn::ScanBytesToSink(databases, bytes, name ? name : "", request,
                                                     sink);
                     });
}

void quarn_free_message(char* message) {
  std::free(message);
}

}  // extern "C"
