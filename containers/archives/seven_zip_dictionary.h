#pragma once

#include <cstdint>
#include <optional>

#include "platform/file.h"

namespace quarn {

// The most memory a decoder of a 7z archive asks for before it delivers a byte: the largest
// LZMA or LZMA2 dictionary or PPMd model among the coders that pack its header and those of
// every folder the header lists (other methods ask for none worth counting). 0 for an archive
// with no folders. The header is read at least as leniently as libarchive reads it, so that
// no folder libarchive would decode goes unread.
//
// `archive` starts with the 7z signature; it is read from its start, its position left
// anywhere. A packed header (LZMA, LZMA2 or stored) is unpacked whole in memory, a plain one
// read up to its folders; one that would take more than kMaxSevenZipHeader bytes for that
// answers UINT64_MAX: reading it asks more than any limit.
// Nothing when it cannot tell: no signature, a header past the archive's end or whose
// structure breaks (the archive's reader meets the same damage), or a header packed by another
// method or through a filter, which is left to the archive's reader.
std::optional<uint64_t> SevenZipDictionarySize(File& archive);

// Whether `archive` is a 7z archive whose header is packed through AES (`7z -mhe`): its
// names and folders cannot be read without the password. Only a structure that checks out
// counts: the signature, the start header's CRC, a header inside the file whose CRC holds,
// and its streams info leading to the coders.
bool SevenZipHeaderIsEncrypted(File& archive);

}  // namespace quarn
