#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// How the printed report is laid out on pages, apart from any printer.
namespace quarn::tools {

inline constexpr std::string_view kReportHeading = "Quarn Explorer 98 Professional Report";
// The heading and three blank lines come before the first list line.
inline constexpr size_t kReportHeaderLines = 4;

// One printed line: the heading, a blank line, or a line of the result list.
struct ReportLine {
  enum class Kind { kHeading, kBlank, kListItem };
  Kind kind = Kind::kBlank;
  size_t item = 0;  // kListItem: the index in the result list
  bool operator==(const ReportLine&) const = default;
};

using ReportPage = std::vector<ReportLine>;

// The report's pages for `item_count` list lines at `lines_per_page` lines a page (taken as 1
// when smaller): line n of the report is page n / lines_per_page, slot n % lines_per_page.
// There are item_count + 4 lines, so an empty list gives one page with the heading and three
// blank lines, and a report that fills its last page exactly has no empty page after it.
std::vector<ReportPage> PaginateReport(size_t item_count, size_t lines_per_page);

// The pages to print, in order, for `copies` copies (taken as 1 when smaller) of
// `page_count` pages: collated, the whole sequence once per copy; otherwise each page
// `copies` times before the next.
std::vector<size_t> PrintedPageOrder(size_t page_count, int copies, bool collate);

}  // namespace quarn::tools
