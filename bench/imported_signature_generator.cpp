#include "bench/imported_signature_generator.h"

namespace quarn::bench {

std::vector<BodySignature> ImportedSignatureGenerator::Signatures(size_t count) {
  std::vector<BodySignature> signatures;
  for (size_t index = 0; index < count; ++index) {
    BodySignature signature;
    signature.index = static_cast<uint32_t>(index);
    signature.pattern = Pattern();
    Place(signature);
    signatures.push_back(std::move(signature));
  }
  return signatures;
}

PatternPart ImportedSignatureGenerator::Whole() {
  return {PatternPart::Kind::kByte, {static_cast<uint8_t>(random_()), 0xFF}, 0, 0, {}};
}

// Mostly whole bytes, 10 to 60 of them; now and then a wildcard, a nibble, a short gap, an
// open gap, a choice or (rarely) a gap longer than the matcher writes as it is.
BodyPattern ImportedSignatureGenerator::Pattern() {
  BodyPattern pattern;
  const size_t length = 10 + Below(51);
  const size_t roll = Below(100);
  const size_t at = 4 + Below(length - 8);
  for (size_t byte = 0; byte < length; ++byte) {
    pattern.parts.push_back(Whole());
    if (byte != at) continue;
    if (roll < 15) {
      pattern.parts.push_back({PatternPart::Kind::kByte, {0, 0}, 0, 0, {}});
    } else if (roll < 23) {
      pattern.parts.push_back(
          {PatternPart::Kind::kByte, {static_cast<uint8_t>(random_() & 0xF0), 0xF0}, 0, 0, {}});
    } else if (roll < 33) {
      const uint32_t min = static_cast<uint32_t>(Below(8));
      pattern.parts.push_back(
          {PatternPart::Kind::kJump, {}, min, min + 1 + static_cast<uint32_t>(Below(24)), {}});
    } else if (roll < 38) {
      pattern.parts.push_back({PatternPart::Kind::kJump, {}, 0, kUnboundedJump, {}});
    } else if (roll < 43) {
      PatternPart choice{PatternPart::Kind::kChoice, {}, 0, 0, {}};
      for (size_t string = 0; string < 2 + Below(3); ++string) {
        choice.choices.emplace_back();
        for (size_t index = 0; index <= Below(4); ++index) {
          choice.choices.back().push_back({static_cast<uint8_t>(random_()), 0xFF});
        }
      }
      pattern.parts.push_back(std::move(choice));
    } else if (roll < 44) {
      pattern.parts.push_back({PatternPart::Kind::kJump, {}, 100, 400, {}});
    }
  }
  return pattern;
}

void ImportedSignatureGenerator::Place(BodySignature& signature) {
  using Base = OffsetRule::Base;
  const size_t roll = Below(100);
  OffsetRule& rule = signature.offset;
  if (roll < 70) return;  // anywhere, any file
  if (roll < 80) {
    rule.base = Base::kAbsolute;
    rule.delta = Below(4) == 0 ? static_cast<int64_t>(Below(4096)) : 0;
  } else if (roll < 88) {
    rule.base = Base::kEndOfFile;
    rule.delta = -static_cast<int64_t>(64 + Below(4096));
    rule.range = Below(2) == 0 ? 0 : 256;
  } else if (roll < 96) {
    rule.base = Base::kEntryPoint;
    rule.delta = static_cast<int64_t>(Below(64));
    signature.target = SignatureTarget::kPeFile;
  } else if (roll < 98) {
    rule.base = Below(2) == 0 ? Base::kLastSection : Base::kWholeSection;
    signature.target = SignatureTarget::kPeFile;
  } else {
    signature.target = SignatureTarget::kOle2Stream;
  }
}

}  // namespace quarn::bench
