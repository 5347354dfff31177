#ifndef HITSIEVE_UI_ANALYSE_PROP_DLG_H_
#define HITSIEVE_UI_ANALYSE_PROP_DLG_H_

#include <memory>
#include <string>

#include <QDialog>

#include "engine/dimensions/crawler_list.h"
#include "engine/page_filter.h"
#include "run/log_sources.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace hitsieve {

class LogFormat;

// Asks which page extensions a run counts. Opens with `text` (the list used last, the default
// list at first); "Анализ" fills the target set from the text as the user left it, "Отмена"
// leaves the set alone. Given a `period`, it also offers the first and last day of the records
// to count (YYYY-MM-DD, empty by default: no limit) and fills the period on "Анализ"; a text
// that is no date keeps the dialog open and says so. Given a `format`, it also offers the log
// format: a preset or "auto" from the list, or the server's own format string typed in (opening
// with `format_text`); "Анализ" compiles it into `*format` (null for combined, the default
// reading), and a text that cannot be understood keeps the dialog open with the refusal the
// command line gives. Given `crawlers`, it offers to leave out every known crawler, not only
// the described search engines' robots, and sets the choice on "Анализ". Given
// `country_database`, it offers the country database file (opening with that path, empty for
// the one that comes with the program), typed in or chosen with "..."; "Анализ" opens the
// file first, and one that is missing or damaged keeps the dialog open with the command
// line's refusal.
class AnalysePropDlg : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: `target` outlives the dialog.
  AnalysePropDlg(ExtensionSet& target, const QString& text, QWidget* parent = nullptr,
                 Period* period = nullptr, std::shared_ptr<const LogFormat>* format = nullptr,
                 const QString& format_text = QString(), CrawlerMode* crawlers = nullptr,
                 std::string* country_database = nullptr);

  QLineEdit* ExtensionEdit() const { return edit_; }
  QLineEdit* FirstDayEdit() const { return first_; }  // null without a period
  QLineEdit* LastDayEdit() const { return last_; }
  QComboBox* LogFormatBox() const { return format_box_; }  // null without a format
  QCheckBox* AllCrawlersBox() const { return crawlers_box_; }  // null without crawlers
  QLineEdit* CountryDatabaseEdit() const { return countries_; }  // null without the database
  // "...": the file dialog's choice, if any, goes into the country database's field.
  void ChooseCountryDatabase();

  void accept() override;

 private:
  ExtensionSet& target_;
  QLineEdit* edit_;
  Period* period_;
  QLineEdit* first_ = nullptr;
  QLineEdit* last_ = nullptr;
  std::shared_ptr<const LogFormat>* format_;
  QComboBox* format_box_ = nullptr;
  CrawlerMode* crawlers_;
  QCheckBox* crawlers_box_ = nullptr;
  std::string* country_database_;
  QLineEdit* countries_ = nullptr;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ANALYSE_PROP_DLG_H_
