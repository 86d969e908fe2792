// SPDX-License-Identifier: Apache-2.0
#include "engine/database_loader.h"

#include "engine/descramble.h"
#include "engine/signature_index.h"
#include "platform/file_contents.h"

namespace quarn {
namespace {

struct StoredSettings {
  ScanOptions options;
  std::string data_directory;
};

StoredSettings ReadStoredSettings(SettingsStore& settings) {
  StoredSettings stored;
  auto document = settings.Load();
  if (!document) {
    // A store that cannot be read is treated like a key that cannot be opened: defaults, and
    // nothing is written over it.
    stored.options = ScanOptions::Unpack(kDefaultScanOptions);
    return stored;
  }
  uint32_t packed = document->ReadNumber(kProgramKey, "Opzioni").value_or(kUnsetScanOptions);
  if (packed == kUnsetScanOptions) {
    packed = kDefaultScanOptions;
    settings.Update([](RegistryDocument& store) {
      store.WriteNumber(kProgramKey, "Opzioni", kDefaultScanOptions);
    });
  }
  stored.options = ScanOptions::Unpack(packed);
  stored.data_directory = document->ReadText(kProgramKey, "DAT").value_or("");
  return stored;
}

void ShowOptionTexts(UserInterface& ui, Language language, const ScanOptions& options) {
  ui.SetOptionsStatus(OptionsStatusPart::kFileFilter,
                      FileFilterStatusText(language, options.file_filter));
  ui.SetOptionsStatus(OptionsStatusPart::kHeuristics,
                      HeuristicsStatusText(language, options.heuristics_enabled));
  ui.SetOptionsStatus(OptionsStatusPart::kScanAction,
                      ScanActionStatusText(language, options.scan_action));
}

void OpenLog(const LoadRequest& request, Folder& data_folder, ScanLog* log) {
  if (!request.log_path_override) {
    log->Open(data_folder);
    return;
  }
  if (request.log_path_override->empty()) return;
  auto [folder_path, name] = SplitHostPath(*request.log_path_override);
  auto folder = request.files->OpenFolder(folder_path);
  if (folder) log->Open(**folder, name);
}

}  // namespace

Result<DatabaseImage> LoadDatabaseFile(Folder& folder, std::string_view name) {
  std::string file_name(name);
  auto file = folder.OpenFile(file_name, OpenMode::kRead);
  if (!file) return Status::Error(file_name + " non trovato");
  std::optional<uint64_t> size = (*file)->Size();
  if (!size) return Status::Error("");
  if (*size <= kDatabaseHeaderSize || *size > kMaxDatabaseFileSize) {
    return Status::Error(file_name + " non valido");
  }
  uint64_t image_size = *size - kDatabaseHeaderSize;
  DatabaseImage image;
  uint8_t* buffer = image.Allocate(image_size);
  if (!(*file)->Seek(kDatabaseHeaderSize, SeekOrigin::kBegin)) return Status::Error("");
  uint64_t done = 0;
  while (done < image_size) {
    uint32_t got = (*file)->Read(buffer + done, static_cast<uint32_t>(image_size - done));
    if (got == 0) return Status::Error("");  // the file shrank or the read failed
    done += got;
  }
  // Only the image is descrambled: the slack behind it stays zero, so bytes that a block
  // copy takes from beyond the image are the same in every run.
  Descramble(buffer, image_size);
  return image;
}

int LoadDatabases(const LoadRequest& request, EngineState* state) {
  StoredSettings stored = ReadStoredSettings(*request.settings);
  state->options = stored.options;
  state->data_directory =
      request.data_directory_override ? *request.data_directory_override : stored.data_directory;
  ShowOptionTexts(*request.ui, request.language, state->options);

  // A missing or wrong data directory leaves the files to be looked for where the program
  // was started.
  auto data_folder = request.files->OpenFolder(
      state->data_directory.empty() ? std::string(".") : state->data_directory);
  if (!data_folder && !state->data_directory.empty()) {
    data_folder = request.files->OpenFolder(".");
  }
  if (!data_folder) {
    request.ui->ShowError(std::string(kSignatureFileName) + " non trovato");
    return 0;
  }
  OpenLog(request, **data_folder, &state->log);

  const Status loaded = LoadDatabaseImages(**data_folder, &state->signatures, &state->names);
  if (!loaded) {
    if (!loaded.message().empty()) request.ui->ShowError(loaded.message());
    return 0;
  }
  return 1;
}

Status LoadDatabaseImages(Folder& folder, DatabaseImage* signatures, DatabaseImage* names) {
  for (auto [name, image] :
       {std::pair{kSignatureFileName, signatures}, std::pair{kNameFileName, names}}) {
    auto loaded = LoadDatabaseFile(folder, name);
    if (!loaded) return loaded.status();
    *image = std::move(loaded.value());
  }
  // Built once here, so each file is compared only with the records that could match it.
  IndexSignatures(*signatures);
  return Status::Ok();
}

}  // namespace quarn
