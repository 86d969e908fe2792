#include "daemon/request_answers.h"

#include <sys/stat.h>
#include <unistd.h>

#include "daemon/reply_text.h"
#include "platform/confined_open.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "platform/thread_file_identity.h"
#include "shell/lone_file_folder.h"

namespace quarn {
namespace {

std::string ErrorReply(const std::string& shown_path, const std::string& cause,
                       const ClientRequest& request) {
  return FramedReply(ReplyPath(shown_path) + ": " + cause + ". ERROR", request.framing,
                     request.session_id);
}

// The lines of a reply for what was scanned as `shown_path`, joined with the framing's
// terminator (each line carries the session's id). Each finding goes to the log too, under
// `logged_as` when it is given (what a client sent has no path of its own to show).
std::string VerdictReply(const std::vector<Finding>& findings, const std::string& shown_path,
                         const ClientRequest& request, DaemonLog& log,
                         const std::optional<std::string>& logged_as = std::nullopt) {
  if (findings.empty()) {
    return FramedReply(ReplyPath(shown_path) + ": OK", request.framing, request.session_id);
  }
  std::string reply;
  for (const Finding& finding : findings) {
    if (finding.error) {
      reply += ErrorReply(finding.path, finding.name, request);
      continue;
    }
    const std::string found = ": " + ReplyVirusName(finding.name) + " FOUND";
    reply += FramedReply(ReplyPath(finding.path) + found, request.framing, request.session_id);
    log.Line(ReplyPath(logged_as.value_or(finding.path)) + found);
  }
  return reply;
}

std::string AnswerPath(const ClientRequest& request, const DatabaseSet& databases,
                       const DaemonScanSettings& settings, const Asker& asker,
                       const std::atomic<bool>* cancelled, DaemonLog& log) {
  const std::string shown = TrimTrailingSlashes(request.command.path);
  if (!asker.peer) return ErrorReply(shown, "Path commands need the local socket", request);
  std::optional<ThreadFileIdentity> identity;
  if (asker.may_assume_identity) {
    auto assumed = ThreadFileIdentity::Assume(*asker.peer);
    if (!assumed) return ErrorReply(shown, "Access denied", request);
    identity.emplace(std::move(*assumed));
  } else if (asker.peer->uid != asker.daemon_uid) {
    return ErrorReply(shown, "Access denied", request);
  }
  auto entry = OpenConfined(request.command.path);
  if (!entry) return ErrorReply(shown, entry.message(), request);
  const ScanMode mode = RowOf(request.command.kind).mode;
  std::vector<Finding> findings;
  if (entry->kind == ConfinedKind::kFile) {
    findings = ScanLoneFile(databases, settings, DescriptorCopies(entry->descriptor.get()), shown,
                            mode, cancelled);
  } else {
    auto folder = std::make_unique<PosixFolder>(entry->descriptor.release(), shown);
    findings = ScanFolderTree(databases, settings, std::move(folder), shown, mode, cancelled);
  }
  return VerdictReply(findings, shown, request, log);
}

std::string AnswerDescriptor(const ClientRequest& request, const DatabaseSet& databases,
                             const DaemonScanSettings& settings, const Asker& asker,
                             const std::atomic<bool>* cancelled, DaemonLog& log) {
  const int descriptor = request.descriptor->get();
  const std::string shown = "fd[" + std::to_string(descriptor) + "]";
  FileOpener open;
  if (request.stream) {
    open = [stream = request.stream] { return stream->Open(); };
  } else {
    struct stat facts {};
    if (fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode)) {
      return ErrorReply(shown, "Not a regular file", request);
    }
    open = DescriptorCopies(descriptor);
  }
  const std::vector<Finding> findings =
      ScanLoneFile(databases, settings, open, shown, RowOf(request.command.kind).mode, cancelled);
  return VerdictReply(findings, shown, request, log, shown + "(" + asker.client + ")");
}

}  // namespace

std::string VersionText(const std::string& program_version, const DatabaseVersion& database) {
  return "Quarn Explorer " + program_version + "/" + std::to_string(database.version) + "/" +
         DatabaseDateText(database);
}

std::string AnswerScanRequest(const ClientRequest& request, const DatabaseSet& databases,
                              const DaemonScanSettings& settings, const Asker& asker,
                              const std::atomic<bool>* cancelled, DaemonLog& log) {
  if (request.command.kind == CommandKind::kInstream) {
    std::shared_ptr<EntrySpool> stream = request.stream;
    const std::vector<Finding> findings = ScanLoneFile(
        databases, settings, [stream] { return stream->Open(); }, "stream",
        RowOf(request.command.kind).mode, cancelled);
    return VerdictReply(findings, "stream", request, log, "instream(" + asker.client + ")");
  }
  if (request.command.kind == CommandKind::kFildes) {
    return AnswerDescriptor(request, databases, settings, asker, cancelled, log);
  }
  return AnswerPath(request, databases, settings, asker, cancelled, log);
}

}  // namespace quarn
