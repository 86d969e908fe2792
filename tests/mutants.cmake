# The named mutants of each layer, each killed by that layer's own test program: a row is
# "name@file@text@replacement[@gtest filter]". Included from tests/ once every test program
# is defined, and only with QUARN_MUTANTS.
include(${PROJECT_SOURCE_DIR}/cmake/QuarnMutants.cmake)

function(quarn_mutant_rows cases)
  foreach(row IN LISTS ARGN)
    string(REPLACE "@" ";" fields "${row}")
    list(GET fields 0 name)
    list(GET fields 1 source)
    list(GET fields 2 from)
    list(GET fields 3 to)
    set(filter "")
    list(LENGTH fields count)
    if(count GREATER 4)
      list(GET fields 4 filter)
    endif()
    quarn_mutant(${name} CASES ${cases} SOURCE ${source} FROM "${from}" TO "${to}"
      FILTER "${filter}")
  endforeach()
endfunction()

# The pattern sections' matcher and the index it sits in, against the read window and the
# linear walk: a window one byte too long or short, a byte taken twice, a subtree left too
# soon, a byte the survey or the value set forgets, a group of values taken for one the area
# lacks, the wrong area, a later record winning, a pair filter keyed by the wrong byte.
quarn_mutant_cases(detection_differential_cases TEST detection_differential_test)
set(matcher engine/pattern_matcher.cpp)
set(detectors engine/signature_detectors.cpp)
set(index engine/signature_index.cpp)
quarn_mutant_rows(detection_differential_cases
  "leaf_window_one_past@${matcher}@found = at < entry.window@found = at <= entry.window"
  "terminal_window_one_short@${matcher}@end <= entry.window) {@end < entry.window) {"
  "leaf_byte_taken_twice@${matcher}@from = at + 1@from = at + 0"
  "child_cut_one_early@${matcher}@(at < max_windows_[child])@(at + 1 < max_windows_[child])"
  "node_window_of_last_entry@${matcher}@std::max(max_windows_[i], entries_[e].window)@entries_[e].window"
  "survey_misses_last_byte@${matcher}@positions[bytes_[at]][at / 64] |=@if (at + 1 < bytes_.size()) positions[bytes_[at]][at / 64] |="
  "value_set_drops_one_in_eight@${matcher}@((eight * kGather) >> 56) << (group * 8)@((eight * kGather) >> 56 & 0x7F) << (group * 8)"
  "empty_groups_one_bit_off@${matcher}@<< (word * 8)@<< (word * 8 + 1)"
  "node_groups_of_any_entry@${matcher}@shared_groups_[i] &= entry_groups_[e]@shared_groups_[i] |= entry_groups_[e]"
  "pattern_groups_swapped_in_pairs@${matcher}@uint32_t{1} << (value / 8)@uint32_t{1} << ((value / 8) ^ 1)"
  "areas_always_shared@${detectors}@!entry_patterns.empty() && std::ranges::equal(at_entry, start)@!entry_patterns.empty()"
  "start_area_outranks_entry@${detectors}@FirstMatch(start_area, after, ordinal)@FirstMatch(start_area, after, none)"
  "pair_filter_by_second_value@${index}@<< (key.value % 64)@<< (key.second_value % 64)")

# The cleaners: a host rebuilt one byte off or one byte long is a damaged program the user
# runs believing it clean.
quarn_mutant_cases(clean_cases TEST quarn_clean_test)
quarn_mutant_rows(clean_cases
  "com_cut_one_byte_short@clean/com_cut.cpp@*size - virus_length@*size - virus_length + 1"
  "com_saved_bytes_one_off@clean/appended_com_cleaner.cpp@*virus_start + fields->saved_offset@*virus_start + fields->saved_offset + 1"
  "exe_header_word_one_off@clean/appended_body.cpp@virus_start + offset), header.data()@virus_start + offset + 1), header.data()"
  "exe_page_count_always_rounded_up@clean/appended_body.cpp@(remainder != 0 ? 1 : 0)@1"
  "dos_entry_from_cs_twice@clean/dos_entry.cpp@kInitialIpField = 20@kInitialIpField = 22"
  "cleaned_copy_not_flushed@clean/cleaning_copy.cpp@if (ready && !file_->Flush())@if (!ready && !file_->Flush())")

# The FAT write side, a partition's window and archive entry names: a cluster lost or shared,
# the second FAT left stale, the next file's entry deleted, a size cut to 16 bits, a write
# into the next partition, a control byte shown as part of a name.
quarn_mutant_cases(containers_cases TEST quarn_containers_test)
set(table containers/fat/fat_table.cpp)
set(editor containers/fat/fat_file_editor.cpp)
set(directory containers/fat/fat_directory_editor.cpp)
set(fat_tests "*Fat*")
quarn_mutant_rows(containers_cases
  "fat_second_copy_not_updated@${table}@FatOffset() + copy * geometry.FatBytes() + offset@FatOffset() + offset@${fat_tests}"
  "fat12_odd_entry_spoils_neighbour@${table}@(both & 0x000F)@(both & 0x00FF)@${fat_tests}"
  "fat_free_count_over_signature@${table}@kFsInfoFreeCountOffset = 488@kFsInfoFreeCountOffset = 484@${fat_tests}"
  "fat_cut_leaves_cluster_taken@${editor}@uint64_t i = keep@uint64_t i = keep + 1@${fat_tests}"
  "fat_emptied_file_keeps_first_cluster@${editor}@keep == 0 ? 0 : record_.first_cluster@record_.first_cluster@${fat_tests}"
  "fat_growth_skips_new_clusters@${editor}@table_.Set(chain_.back(), added->front())@table_.Set(chain_.back(), added->back())@${fat_tests}"
  "fat_size_written_as_16_bits@${directory}@put(kSizeOffset, size, 4)@put(kSizeOffset, size, 2)@${fat_tests}"
  "fat_delete_marks_the_next_entry@${directory}@Mark(record.entry_offset, kDeletedMark)@Mark(record.entry_offset + kSlotBytes, kDeletedMark)@${fat_tests}"
  "partition_write_one_past_its_end@containers/disks/file_block_device.cpp@length > length_ - offset@length > length_ - offset + 1@*FileBlockDevice*:*Partition*:${fat_tests}"
  "archive_name_keeps_ascii_controls@containers/archives/archive_names.cpp@IsControlCharacter(code_point)) {@IsControlCharacter(code_point) && length > 1) {@*ArchiveDisplayPath*:*Lha*")

# quarnd's framing and replies: a client's stream cut at the wrong length, a command that
# keeps its terminator, a reply ended with the other framing's byte or read wrong by clients.
quarn_mutant_cases(daemon_cases TEST quarn_daemon_test)
quarn_mutant_rows(daemon_cases
  "instream_length_misreads_its_third_byte@daemon/instream_decoder.cpp@uint64_t{length_bytes_[2]} << 8@uint64_t{length_bytes_[1]} << 8"
  "instream_limit_one_byte_late@daemon/instream_decoder.cpp@length > max_length_ - received_@length > max_length_ - received_ + 1"
  "command_keeps_its_terminator@daemon/command_frame.cpp@bytes.substr(1, end - 1)@bytes.substr(1, end)"
  "reply_ends_with_the_other_byte@daemon/command_frame.cpp@return framing == Framing::kNul@return framing != Framing::kNul"
  "virus_name_keeps_colon@daemon/reply_text.cpp@c == ':'@c == '|'"
  "session_number_without_space@daemon/reply_text.cpp@+ \": \"@+ \":\"")

# Imported signatures' offsets: where a pattern may start, from the entry point, a section or
# the end of the file.
quarn_mutant_cases(imported_cases TEST quarn_imported_test)
set(starts imported/matching/allowed_starts.cpp)
set(rule imported/offset_rule.cpp)
quarn_mutant_rows(imported_cases
  "start_window_one_byte_long@${starts}@first + std::min(range, kFarthest)@first + 1 + std::min(range, kFarthest)"
  "whole_section_one_byte_short@${starts}@section.raw_size + range@section.raw_size - 1 + range"
  "last_section_is_the_first@${starts}@pe->sections.back().raw_offset@pe->sections.front().raw_offset"
  "eof_offset_may_go_forward@${rule}@SignedDelta(text.substr(3), true)@SignedDelta(text.substr(3), false)"
  "section_number_takes_the_sign@${rule}@Parse<uint32_t>(text.substr(1, sign - 1))@Parse<uint32_t>(text.substr(1, sign))")

# The settings store: a value's newline escape unread, a key found under a longer name, a
# byte of a hex list cut to its low digit.
quarn_mutant_cases(platform_cases TEST quarn_platform_test)
set(registry platform/registry_document.cpp)
set(settings_tests "*Settings*:*Registry*")
quarn_mutant_rows(platform_cases
  "settings_newline_escape_unread@${registry}@case 'n':@case 'N':@${settings_tests}"
  "settings_key_matches_longer_name@${registry}@a.size() == b.size() &&@a.size() <= b.size() &&@${settings_tests}"
  "settings_hex_byte_high_digit_lost@${registry}@HexDigit(list[0]) << 4@HexDigit(list[0]) << 8@${settings_tests}")

# A disk image's working copy takes the image's place only when no change inside it failed:
# committed after a failure, the image would hold some cleans and a half-made one.
quarn_mutant_cases(image_changes_cases TEST end_to_end_test)
quarn_mutant_rows(image_changes_cases
  "image_copy_committed_after_a_failed_change@shell/image_changes.cpp@if (spoiled_ || done_.empty()) {@if (spoiled_ && done_.empty()) {@ImageAllOrNothingTest.*")
