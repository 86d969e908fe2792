#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/database_image.h"

namespace quarn {

inline constexpr size_t kWorkBlockSize = 4096;
using WorkBlock = std::array<uint8_t, kWorkBlockSize>;

struct SectionDescriptor {
  uint32_t offset = 0;  // image offset of the first record
  uint16_t record_count = 0;
  uint16_t spare = 0;  // not read by the engine
  uint8_t record_size = 0;
};

struct RecordCursor {
  uint16_t records_left_in_block = 0;  // the current record included
  uint16_t records_per_block = 0;
  uint16_t full_blocks_left = 0;
  uint16_t records_in_last_block = 0;
  uint16_t block_length = 0;  // bytes from one block's start to the next block's start
  uint32_t block_offset = 0;  // image offset of the current block's first byte
};

enum NextRecordResult : int { kNextInBlock = 0, kSectionEnd = 1, kNewBlock = 2 };

// Copies `length` bytes from image offset `offset` into `destination`. Bytes beyond the
// image's buffer (image and slack) are delivered as zeros, so no offset a database holds can
// make the copy read outside the buffer. Result always 0.
int CopyImageBytes(uint8_t* destination, const DatabaseImage& image, uint32_t offset,
                   uint32_t length);

// Copies the descriptor at `directory_offset` of a WorkBlock that holds the image's first
// 4096 bytes. `directory_offset` + 9 must lie within the block. Result always 0.
int ReadSectionDescriptor(SectionDescriptor* descriptor, const WorkBlock& block,
                          uint16_t directory_offset);

// Fills every field but the block offset from the descriptor. A record size of 0 gives a
// cursor with no record. Result always 0.
int InitRecordCursor(const SectionDescriptor& descriptor, RecordCursor* cursor);

// Passes the current record; on kNewBlock the next block is in `block`.
NextRecordResult NextRecord(RecordCursor* cursor, WorkBlock* block, const DatabaseImage& image);

// True when the section's records can be walked by a reader that steps `reader_size` bytes:
// a record size of 0, one that differs from the reader's, or records that would run past
// the end of the image make the section empty.
bool SectionIsWalkable(const SectionDescriptor& descriptor, uint8_t reader_size,
                       const DatabaseImage& image);

// One walk over one section in the calling order every reader follows: directory, cursor,
// first block, then record by record. Owns its WorkBlock; never allocates.
class SectionWalk {
 public:
  // `reader_size` is the record size the reader knows; an unwalkable section is empty.
  SectionWalk(const DatabaseImage& image, uint16_t directory_offset, uint8_t reader_size);

  bool AtEnd() const { return at_end_; }
  // The current record's bytes; valid until Next().
  std::span<const uint8_t> Record() const {
    return {block_.data() + record_position_, reader_size_};
  }
  // Moves to the next record; returns what NextRecord answered.
  NextRecordResult Next();

  const SectionDescriptor& descriptor() const { return descriptor_; }
  const RecordCursor& cursor() const { return cursor_; }
  // Records the walk covers: the descriptor's count, or 0 for an unwalkable section.
  uint16_t record_count() const { return walkable_ ? descriptor_.record_count : 0; }

 private:
  const DatabaseImage& image_;
  WorkBlock block_;
  SectionDescriptor descriptor_;
  RecordCursor cursor_;
  uint8_t reader_size_;
  uint32_t record_position_ = 0;
  bool walkable_ = false;
  bool at_end_ = true;
};

}  // namespace quarn
