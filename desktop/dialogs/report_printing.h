#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QPrinter;

// The printed report of the result list.
namespace quarn::tools {

// What the main window shows, caption "Errore", when printing gives false.
inline constexpr std::string_view kPrintFailedText = "Could not print file ";

// The cancel dialog's texts.
inline constexpr std::string_view kPrintingTitle = "Quarn Explorer";
inline constexpr std::string_view kPrintingFirstText = "In fase";
inline constexpr std::string_view kPrintingSecondText = "di stampa...";

// The report's layout on a printer, from its font metrics, in device pixels.
struct ReportLayout {
  int line_height = 1;      // character height and external leading
  int character_width = 1;  // average character width
  int lines_per_page = 1;   // printable height ÷ line height, at least 1
};
ReportLayout MeasureReportLayout(QPrinter& printer);

// Prints the result list's `lines` (UTF-8) on a printer the user picks in the print dialog,
// with the copies and collation asked for there: a heading, three blank lines, then one
// list line per printed line. While pages are produced `main_window` is disabled and a
// modeless dialog offers to cancel; cancelling stops after the current page. Returns true
// when the report was printed or the user dismissed the print dialog, false when the job
// failed or was cancelled: the window then shows kPrintFailedText.
bool PrintReport(QWidget* main_window, const std::vector<std::string>& lines);

// The same report written to the PDF file `pdf_path` without the print dialog (for scripts,
// tests, and systems without a printer); the cancel dialog is shown all the same.
// `main_window` may be null.
bool PrintReportToPdf(QWidget* main_window, const std::vector<std::string>& lines,
                      const QString& pdf_path, int copies = 1, bool collate = true);

}  // namespace quarn::tools
