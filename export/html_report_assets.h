#ifndef HITSIEVE_EXPORT_HTML_REPORT_ASSETS_H_
#define HITSIEVE_EXPORT_HTML_REPORT_ASSETS_H_

// The report page's script and style sheet, copied from html_report.js and html_report.css into
// the program when it is built, so the page needs no file beside the program.
namespace hitsieve {

extern const char kHtmlReportScript[];
extern const char kHtmlReportStyle[];

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_HTML_REPORT_ASSETS_H_
