#include "engine/section_walk.h"

#include <algorithm>
#include <cstring>

#include "engine/section_directory.h"
#include "platform/byte_reader.h"

namespace quarn {

int CopyImageBytes(uint8_t* destination, const DatabaseImage& image, uint32_t offset,
                   uint32_t length) {
  uint64_t available = offset < image.buffer_size() ? image.buffer_size() - offset : 0;
  uint64_t copied = std::min<uint64_t>(available, length);
  if (copied > 0) std::memcpy(destination, image.data() + offset, copied);
  std::memset(destination + copied, 0, length - copied);
  return 0;
}

int ReadSectionDescriptor(SectionDescriptor* descriptor, const WorkBlock& block,
                          uint16_t directory_offset) {
  std::span<const uint8_t> bytes(block);
  descriptor->offset = ReadU32(bytes, directory_offset + kDescriptorOffsetField);
  descriptor->record_count = ReadU16(bytes, directory_offset + kDescriptorCountField);
  descriptor->spare = ReadU16(bytes, directory_offset + kDescriptorSpareField);
  descriptor->record_size = ReadU8(bytes, directory_offset + kDescriptorSizeField);
  return 0;
}

int InitRecordCursor(const SectionDescriptor& descriptor, RecordCursor* cursor) {
  uint32_t offset = cursor->block_offset;
  *cursor = RecordCursor{};
  cursor->block_offset = offset;
  uint16_t size = descriptor.record_size;
  uint16_t count = descriptor.record_count;
  if (size == 0) return 0;  // no record can be stepped to
  cursor->records_per_block = static_cast<uint16_t>(kWorkBlockSize / size);
  uint16_t full_blocks = static_cast<uint16_t>(count / cursor->records_per_block);
  if (full_blocks == 0) {
    cursor->records_left_in_block = count;
    cursor->records_in_last_block = 0;
  } else {
    cursor->records_left_in_block = cursor->records_per_block;
    cursor->records_in_last_block =
        static_cast<uint16_t>(count - full_blocks * cursor->records_per_block);
  }
  cursor->full_blocks_left = full_blocks;
  cursor->block_length = static_cast<uint16_t>(cursor->records_left_in_block * size);
  return 0;
}

NextRecordResult NextRecord(RecordCursor* cursor, WorkBlock* block, const DatabaseImage& image) {
  if (cursor->records_left_in_block == 0) return kSectionEnd;
  --cursor->records_left_in_block;
  if (cursor->full_blocks_left == 0) {
    return cursor->records_left_in_block == 0 ? kSectionEnd : kNextInBlock;
  }
  if (cursor->records_left_in_block != 0) return kNextInBlock;
  // The count was a whole number of blocks: there is no last block to open.
  if (cursor->full_blocks_left == 1 && cursor->records_in_last_block == 0) {
    cursor->full_blocks_left = 0;
    return kSectionEnd;
  }
  cursor->block_offset += cursor->block_length;
  CopyImageBytes(block->data(), image, cursor->block_offset, kWorkBlockSize);
  --cursor->full_blocks_left;
  cursor->records_left_in_block =
      cursor->full_blocks_left != 0 ? cursor->records_per_block : cursor->records_in_last_block;
  return kNewBlock;
}

bool SectionIsWalkable(const SectionDescriptor& descriptor, uint8_t reader_size,
                       const DatabaseImage& image) {
  if (descriptor.record_size == 0 || descriptor.record_size != reader_size) return false;
  uint64_t end = static_cast<uint64_t>(descriptor.offset) +
                 static_cast<uint64_t>(descriptor.record_count) * descriptor.record_size;
  return end <= image.size();
}

SectionWalk::SectionWalk(const DatabaseImage& image, uint16_t directory_offset, uint8_t reader_size)
    : image_(image), reader_size_(reader_size) {
  CopyImageBytes(block_.data(), image_, 0, kWorkBlockSize);
  ReadSectionDescriptor(&descriptor_, block_, directory_offset);
  walkable_ = SectionIsWalkable(descriptor_, reader_size_, image_);
  if (!walkable_ || descriptor_.record_count == 0) return;
  InitRecordCursor(descriptor_, &cursor_);
  cursor_.block_offset = descriptor_.offset;
  CopyImageBytes(block_.data(), image_, cursor_.block_offset, kWorkBlockSize);
  at_end_ = false;
}

NextRecordResult SectionWalk::Next() {
  if (at_end_) return kSectionEnd;
  NextRecordResult result = NextRecord(&cursor_, &block_, image_);
  switch (result) {
    case kNextInBlock:
      record_position_ += reader_size_;
      break;
    case kNewBlock:
      record_position_ = 0;
      break;
    case kSectionEnd:
      at_end_ = true;
      break;
  }
  return result;
}

}  // namespace quarn
