#include "desktop/dialogs/report_pagination.h"

#include <algorithm>

namespace quarn::tools {

std::vector<ReportPage> PaginateReport(size_t item_count, size_t lines_per_page) {
  lines_per_page = std::max<size_t>(lines_per_page, 1);
  const size_t total_lines = item_count + kReportHeaderLines;
  const size_t page_count = (total_lines + lines_per_page - 1) / lines_per_page;
  std::vector<ReportPage> pages(page_count);
  for (size_t n = 0; n < total_lines; ++n) {
    ReportLine line;
    if (n == 0) {
      line.kind = ReportLine::Kind::kHeading;
    } else if (n >= kReportHeaderLines) {
      line.kind = ReportLine::Kind::kListItem;
      line.item = n - kReportHeaderLines;
    }
    pages[n / lines_per_page].push_back(line);
  }
  return pages;
}

std::vector<size_t> PrintedPageOrder(size_t page_count, int copies, bool collate) {
  const size_t times = copies > 1 ? static_cast<size_t>(copies) : 1;
  std::vector<size_t> order;
  order.reserve(page_count * times);
  for (size_t outer = 0; outer < (collate ? times : page_count); ++outer) {
    for (size_t inner = 0; inner < (collate ? page_count : times); ++inner) {
      order.push_back(collate ? inner : outer);
    }
  }
  return order;
}

}  // namespace quarn::tools
