#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "imported/clamav/clamav_records.h"
#include "imported/clamav/import_report.h"
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
  // are counted as left), or a folder, whose files of those kinds are read in name order (a
  // .cvd beside a newer .cld of its name passed over, as ClamAV does).
  // Fails, naming the file and the cause, on a file that cannot be read or a database that is
  // damaged (a .cvd whose body's MD5 is not its header's, a gzip stream whose CRC or length
  // fails, a tar that does not read); what earlier sources gave is kept, and a failed one may
  // have handed some signatures already, so a caller that writes drops the whole import.
  Status AddSource(FileSystem& files, const std::string& path);

  // Reads the withdrawals of `path`, a source as AddSource takes, and of the databases in it:
  // the .ign2 and .ign records, each a signature's name, alone or with the MD5 of its record's
  // line. A record they name is left ("withdrawn") by every AddSource after, as ClamAV reads
  // every withdrawal before any signature. Takes nothing else, but refuses a damaged database
  // as AddSource does: reading every source so first keeps a damaged one from handing any
  // signature.
  Status AddWithdrawals(FileSystem& files, const std::string& path);

  const ImportReport& report() const { return report_; }

 private:
  Status AddFile(Folder& folder, const std::string& name, const std::string& shown);
  Status AddDatabase(File& file, const std::string& shown);
  // Takes one line of a record file of `kind`, named `form` in the report; `where` names the
  // line for the signature's source. An overlong line is left as malformed.
  void TakeLine(RecordForm kind, const std::string& form, std::string_view line,
                const std::string& where, bool overlong);

  // Whether a withdrawal names the record `line` gave, of signature `name`.
  bool IsWithdrawn(const std::string& name, std::string_view line) const;
  void TakeWithdrawal(const std::string& form, std::string_view line);
  // Takes out of a folder's `names` each .cvd/.cld beside a newer form of one database.
  void PassOverOlderForms(Folder& folder, std::vector<std::string>& names);
  // Whether the current pass reads member or file `name`.
  bool Reads(std::string_view name) const;

  SignatureSink& sink_;
  ImportReport report_;
  bool withdrawals_pass_ = false;
  std::unordered_set<std::string> withdrawn_names_;
  std::unordered_multimap<std::string, std::string> withdrawn_lines_;  // name → MD5, hex
};

}  // namespace quarn
