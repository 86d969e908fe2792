#include "engine/candidate_walk.h"

#include <algorithm>

namespace quarn {
namespace {

struct LaterFirst {
  template <typename Run>
  bool operator()(const Run& a, const Run& b) const {
    return *a.next > *b.next;
  }
};

}  // namespace

CandidateWalk::CandidateWalk(const DatabaseImage& image, uint16_t directory_offset,
                             uint8_t reader_size, const RecordIndex* index,
                             std::span<const uint8_t> buffer)
    : image_(image), index_(index) {
  if (index_ == nullptr || index_->record_size != reader_size) {
    index_ = nullptr;
    linear_.emplace(image, directory_offset, reader_size);
    return;
  }
  Add(index_->always);
  for (size_t key = 0; key < index_->key_positions.size(); ++key) {
    const uint16_t position = index_->key_positions[key];
    if (position >= buffer.size()) continue;  // the first test cannot fit: nothing matches
    Add(index_->Bucket(key, buffer[position]));
  }
  // A large section files its records under hundreds of pair positions, of which a file
  // meets few: each is let go on its first value, read through locals that the runs
  // written meanwhile cannot be taken to change.
  const uint16_t* pair_positions = index_->pair_positions.data();
  const std::array<uint64_t, 256 / 64>* first_values = index_->pair_first_values.data();
  const uint8_t* bytes = buffer.data();
  // Ascending: the pairs whose test fits the buffer come first.
  size_t pair_count = index_->pair_positions.size();
  while (pair_count != 0 && pair_positions[pair_count - 1] + 1u >= buffer.size()) --pair_count;
  for (size_t pair = 0; pair < pair_count; ++pair) {
    const uint8_t first = bytes[pair_positions[pair]];
    if ((first_values[pair][first / 64] >> (first % 64) & 1) == 0) continue;
    Add(index_->PairBucket(pair, first, bytes[pair_positions[pair] + 1]));
  }
  std::make_heap(runs_.begin(), runs_.begin() + run_count_, LaterFirst{});
  Settle();
}

void CandidateWalk::Add(std::span<const uint16_t> ordinals) {
  if (ordinals.empty()) return;
  runs_[run_count_++] = {ordinals.data(), ordinals.data() + ordinals.size()};
}

void CandidateWalk::Settle() {
  if (run_count_ != 0) current_ = *runs_[0].next;
}

void CandidateWalk::Next() {
  if (linear_) {
    linear_->Next();
    return;
  }
  if (run_count_ == 0) return;
  std::pop_heap(runs_.begin(), runs_.begin() + run_count_, LaterFirst{});
  Run& run = runs_[run_count_ - 1];
  if (++run.next == run.end) {
    --run_count_;
  } else {
    std::push_heap(runs_.begin(), runs_.begin() + run_count_, LaterFirst{});
  }
  Settle();
}

}  // namespace quarn
