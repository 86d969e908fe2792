#include "desktop/dialogs/crontab_installer.h"

#include <QProcess>
#include <QStandardPaths>

#include "desktop/dialogs/crontab_line.h"

namespace quarn::tools {
namespace {

constexpr int kFinishWithinMs = 10000;
constexpr qint64 kLargestCrontab = 1 << 20;  // far more than any person writes
constexpr int kNoCrontabStatus = 1;

struct Finished {
  int exit_code = -1;
  QByteArray output;
  QByteArray errors;
};

std::string Named(const QString& program, const QStringList& arguments) {
  return (program + " " + arguments.join(' ')).toStdString();
}

Result<Finished> Run(const QString& program, const QStringList& arguments, std::string_view input) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForStarted(kFinishWithinMs)) {
    return Status::Error(Named(program, arguments) + ": " + process.errorString().toStdString());
  }
  process.write(input.data(), static_cast<qint64>(input.size()));
  process.closeWriteChannel();
  if (!process.waitForFinished(kFinishWithinMs)) {
    process.kill();
    process.waitForFinished(kFinishWithinMs);
    return Status::Error(Named(program, arguments) + ": did not finish");
  }
  Finished finished;
  finished.output = process.readAllStandardOutput();
  finished.errors = process.readAllStandardError();
  if (process.exitStatus() != QProcess::NormalExit) {
    return Status::Error(Named(program, arguments) + ": ended abnormally");
  }
  finished.exit_code = process.exitCode();
  return finished;
}

std::string FailureOf(const QString& program, const QStringList& arguments,
                      const Finished& finished) {
  std::string message =
      Named(program, arguments) + ": exit status " + std::to_string(finished.exit_code);
  const QByteArray said = finished.errors.trimmed();
  if (!said.isEmpty()) message += ": " + said.left(400).toStdString();
  return message;
}

}  // namespace

QString FindCrontabProgram() {
  return QStandardPaths::findExecutable("crontab");
}

Result<std::string> ReadCrontab(const QString& program) {
  const QStringList arguments = {"-l"};
  Result<Finished> run = Run(program, arguments, {});
  if (!run) return run.status();
  if (run->exit_code == kNoCrontabStatus && run->errors.contains("no crontab")) {
    return std::string();
  }
  if (run->exit_code != 0) return Status::Error(FailureOf(program, arguments, *run));
  if (run->output.size() > kLargestCrontab) {
    return Status::Error(Named(program, arguments) + ": the crontab is too large");
  }
  return run->output.toStdString();
}

Status WriteCrontab(const QString& program, std::string_view text) {
  const QStringList arguments = {"-"};
  Result<Finished> run = Run(program, arguments, text);
  if (!run) return run.status();
  if (run->exit_code != 0) return Status::Error(FailureOf(program, arguments, *run));
  return Status::Ok();
}

Status InstallScheduleLine(const QString& program, const std::optional<std::string>& line) {
  Result<std::string> current = ReadCrontab(program);
  if (!current) return current.status();
  const std::string merged = MergeScheduleLine(*current, line);
  if (merged == *current) return Status::Ok();
  return WriteCrontab(program, merged);
}

}  // namespace quarn::tools
