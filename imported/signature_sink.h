#pragma once

#include <vector>

#include "imported/imported_signature.h"

namespace quarn {

// Where an import hands the signatures it takes, one by one in the order it takes them.
class SignatureSink {
 public:
  virtual ~SignatureSink() = default;
  virtual void Take(ImportedSignature signature) = 0;
};

// Keeps every signature as it came, whole: for tests and tools that look at them one by
// one. An import of a real database goes to ImportedDatabaseEncoder instead, which keeps them
// in a fraction of the memory.
class SignatureList : public SignatureSink {
 public:
  void Take(ImportedSignature signature) override { signatures.push_back(std::move(signature)); }
  std::vector<ImportedSignature> signatures;
};

}  // namespace quarn
