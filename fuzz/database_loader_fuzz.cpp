// Loads hostile database files through the loader, then walks every section with every
// reader and reads every name a record points at: nothing may read outside its buffers.
#include <cstdint>
#include <string>
#include <vector>

#include "dbtool/database_codec.h"
#include "engine/database_builder.h"
#include "engine/database_loader.h"
#include "engine/database_verifier.h"
#include "engine/database_version.h"
#include "engine/section_walk.h"
#include "engine/virus_names.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/memory_settings_store.h"

namespace {

class SilentInterface : public quarn::UserInterface {
 public:
  void SetOptionsStatus(quarn::OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view, std::string_view) override {}
};

// The first two bytes say where the signature file ends and the name file begins.
void SplitInput(const uint8_t* data, size_t size, std::vector<uint8_t>* signatures,
                std::vector<uint8_t>* names) {
  size_t split = size >= 2 ? (data[0] | (data[1] << 8)) : 0;
  const uint8_t* rest = data + (size >= 2 ? 2 : size);
  size_t rest_size = size >= 2 ? size - 2 : 0;
  if (split > rest_size) split = rest_size;
  signatures->assign(rest, rest + split);
  names->assign(rest + split, rest + rest_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> signature_file, name_file;
  SplitInput(data, size, &signature_file, &name_file);
  quarn::MemoryFileSystem files;
  files.AddFile("/data/QUARN.DAT", signature_file);
  files.AddFile("/data/NAMEVIR.DAT", name_file);
  quarn::MemorySettingsStore settings;
  SilentInterface ui;
  quarn::LoadRequest request;
  request.settings = &settings;
  request.files = &files;
  request.ui = &ui;
  request.data_directory_override = "/data";
  quarn::EngineState state;
  if (quarn::LoadDatabases(request, &state) != 1) return 0;

  quarn::ReadDatabaseVersion(state.signatures);
  for (int section = 0; section < quarn::kSectionCount; ++section) {
    uint8_t size_of_reader = quarn::ReaderRecordSize(section);
    if (size_of_reader == 0) size_of_reader = 16;
    for (quarn::SectionWalk walk(state.signatures, quarn::DirectoryOffset(section), size_of_reader);
         !walk.AtEnd(); walk.Next()) {
      quarn::GetVirusName(state.names, quarn::ReadU16(walk.Record(), 0));
    }
  }
  std::vector<std::string> notes;
  quarn::DecompileDatabase(state.signatures, state.names, &notes);
  quarn::VerifyDatabase(state.signatures, state.names);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  quarn::DatabaseContent content;
  content.version = 3;
  content.month = 5;
  content.year = 2001;
  content.names[1] = "Alpha";
  content.names[90] = "Generic";
  for (int section = 0; section < quarn::kSectionCount; ++section) {
    uint8_t size = quarn::ReaderRecordSize(section);
    if (size == 0 || section == quarn::kVersionSection) continue;
    for (int i = 0; i < 3; ++i) {
      std::vector<uint8_t> record(size, static_cast<uint8_t>(section + i));
      record[0] = 1;
      record[1] = 0;
      content.sections[section].records.push_back(record);
    }
  }
  std::vector<uint8_t> signatures = quarn::EncodeDatabaseFile(*quarn::BuildSignatureImage(content));
  std::vector<uint8_t> names = quarn::EncodeDatabaseFile(*quarn::BuildNameImage(content));
  std::string seed;
  seed.push_back(static_cast<char>(signatures.size() & 0xFF));
  seed.push_back(static_cast<char>(signatures.size() >> 8));
  seed.append(signatures.begin(), signatures.end());
  seed.append(names.begin(), names.end());
  std::string tiny = std::string("\x00\x02", 2) + std::string(512 + 512 + 2, '\x01');
  return {seed, tiny};
}
