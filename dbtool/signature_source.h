// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/database_builder.h"
#include "platform/status.h"

namespace quarn {

// One text of the signature source language (see docs/signature-source.md) and the name it
// is known by in messages.
struct SourceText {
  std::string file_name;
  std::string text;
};

// Reads source texts, in order, into one database's content. A failure names the file, the
// line and what is wrong ("eicar.qsig:4: unknown field 'cod' for com-entry"). Sources without
// a `date` leave month and year 0, for the caller to date.
Result<DatabaseContent> ParseSignatureSource(const std::vector<SourceText>& sources);

// The source text of a database's content; ParseSignatureSource gives the same content back.
std::string FormatSignatureSource(const DatabaseContent& content);

}  // namespace quarn
