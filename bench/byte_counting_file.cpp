#include "bench/byte_counting_file.h"

namespace quarn::bench {

uint32_t ByteCountingFile::Read(void* buffer, uint32_t length) {
  uint32_t read = file_.Read(buffer, length);
  bytes_read_ += read;
  return read;
}

std::optional<uint64_t> ByteCountingFile::Seek(int64_t offset, SeekOrigin origin) {
  return file_.Seek(offset, origin);
}

uint64_t ByteCountingFile::Position() const {
  return file_.Position();
}

std::optional<uint64_t> ByteCountingFile::Size() {
  return file_.Size();
}

uint32_t ByteCountingFile::Write(const void* buffer, uint32_t length) {
  return file_.Write(buffer, length);
}

bool ByteCountingFile::SetEndOfFile() {
  return file_.SetEndOfFile();
}

bool ByteCountingFile::Flush() {
  return file_.Flush();
}

std::optional<FileTimes> ByteCountingFile::GetTimes() {
  return file_.GetTimes();
}

bool ByteCountingFile::SetTimes(const FileTimes& times) {
  return file_.SetTimes(times);
}

std::optional<FileAttributes> ByteCountingFile::GetAttributes() {
  return file_.GetAttributes();
}

bool ByteCountingFile::SetAttributes(const FileAttributes& attributes) {
  return file_.SetAttributes(attributes);
}

std::optional<FileInfo> ByteCountingFile::GetInfo() {
  return file_.GetInfo();
}

bool ByteCountingFile::SetOwner(uint32_t owner, uint32_t group) {
  return file_.SetOwner(owner, group);
}

}  // namespace quarn::bench
