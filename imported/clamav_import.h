#pragma once

#include <string>
#include <vector>

#include "imported/clamav_records.h"
#include "imported/import_report.h"
#include "imported/signature_sink.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// Reads the signatures of a user's ClamAV databases, source after source, handing each one
// taken to a sink as it is read, and counts what was taken and left. Reads every file as a
// stream: memory holds what the sink keeps, not the files.
class ClamavImport {
 public:
  // `sink` outlives the import.
  explicit ClamavImport(SignatureSink& sink) : sink_(sink) {}

  // Reads `path`: a .cvd or .cld file (a 512-byte "ClamAV-VDB:" header, then a tar archive,
  // gzipped or not), a record file (.ndb, .hdb, .hsb, .mdb, .msb; the other signature forms
  // are counted as left), or a folder, whose files of those kinds are read in name order.
  // Fails, naming the file and the cause, on a file that cannot be read or a database that is
  // damaged; what earlier sources gave is kept.
  Status AddSource(FileSystem& files, const std::string& path);

  const ImportReport& report() const { return report_; }

 private:
  Status AddFile(Folder& folder, const std::string& name, const std::string& shown);
  Status AddDatabase(File& file, const std::string& shown);
  // Takes one line of a record file of `kind`, named `form` in the report; `where` names the
  // line for the signature's source. An overlong line is left as malformed.
  void TakeLine(RecordForm kind, const std::string& form, std::string_view line,
                const std::string& where, bool overlong);

  SignatureSink& sink_;
  ImportReport report_;
};

}  // namespace quarn
