#include "samplegen/sample_factory.h"
#include "engine/test_support/compound_file_writer.h"

namespace quarn::samples {
namespace {

using testing::CompoundFileWriter;
using testing::WordDocumentStream;

// A Word document whose one stored macro begins with `text`; the macro is stored as text,
// not as code any word processor would run.
Bytes WordDocument(const std::string& text) {
  Bytes macro = Text(text);
  macro.resize(64, ' ');
  CompoundFileWriter writer;
  writer.AddStream("WordDocument", WordDocumentStream().AddMacro(macro, 0).Build());
  return writer.Build();
}

}  // namespace

std::vector<Sample> BuildDocumentSamples() {
  std::vector<Sample> samples;
  samples.push_back(Make("macro.doc", "a document whose macro carries both marks",
                         WordDocument("QTFMACRO--------MAC1"), {kWordMacroFamily, 0, false}));
  // The macro check is the last step of its chain, so its partial match reaches the verdict.
  samples.push_back(Make("macro_variant.doc", "a document whose macro carries the first mark",
                         WordDocument("QTFMACRO--------MAC2"), {kWordMacroFamily, 1, false}));
  samples.push_back(
      Make("clean.doc", "a document with an unknown macro", WordDocument("Sub MAIN  End Sub"), {}));
  samples.push_back(Make("readme.txt", "plain text",
                         Text("These files were made for the scanner's own tests.\r\n"), {}));
  return samples;
}

}  // namespace quarn::samples
