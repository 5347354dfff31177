#include "ui/analyse_prop_dlg.h"

#include <exception>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/log_format/log_format.h"
#include "engine/text.h"
#include "run/analysis_job.h"
#include "ui/anchor_layout.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

// The choices of the format list; any other text is the server's own format string.
const char* const kFormatChoices[] = {"combined", "common", "vhost_combined", "w3c", "caddy",
                                      "auto"};

}  // namespace

AnalysePropDlg::AnalysePropDlg(ExtensionSet& target, const QString& text, QWidget* parent,
                               Period* period, std::shared_ptr<const LogFormat>* format,
                               const QString& format_text, CrawlerMode* crawlers,
                               std::string* country_database)
    : QDialog(parent),
      target_(target),
      period_(period),
      format_(format),
      crawlers_(crawlers),
      country_database_(country_database) {
  setWindowTitle(QString());
  const DialogUnits du(this);
  // The period's row and the format's row go between the extensions and the buttons.
  const int period_row = period != nullptr ? 20 : 0;
  const int format_row = format != nullptr ? 20 : 0;
  const int countries_row = country_database != nullptr ? 20 : 0;
  const int extra = period_row + format_row + countries_row + (crawlers != nullptr ? 16 : 0);
  setFixedSize(du.Size(223, 63 + extra));

  auto* label = new QLabel(tr("Анализировать только эти файлы"), this);
  // As wide as the edit below it: the Cyrillic text is wider than the template allowed.
  label->setGeometry(du.Rect(7, 6, 209, 10));

  edit_ = new QLineEdit(text, this);
  edit_->setObjectName(QStringLiteral("extensions"));
  edit_->setGeometry(du.Rect(7, 17, 209, 14));

  if (period != nullptr) {
    auto* from = new QLabel(tr("Период с"), this);
    from->setGeometry(du.Rect(7, 41, 40, 10));
    first_ = new QLineEdit(this);
    first_->setObjectName(QStringLiteral("first_day"));
    first_->setPlaceholderText(tr("ГГГГ-ММ-ДД"));
    first_->setGeometry(du.Rect(48, 39, 60, 14));
    auto* to = new QLabel(tr("по"), this);
    to->setGeometry(du.Rect(114, 41, 16, 10));
    last_ = new QLineEdit(this);
    last_->setObjectName(QStringLiteral("last_day"));
    last_->setPlaceholderText(tr("ГГГГ-ММ-ДД"));
    last_->setGeometry(du.Rect(132, 39, 60, 14));
  }

  if (format != nullptr) {
    auto* label = new QLabel(tr("Формат журнала"), this);
    label->setGeometry(du.Rect(7, 41 + period_row, 66, 10));
    format_box_ = new QComboBox(this);
    format_box_->setObjectName(QStringLiteral("log_format"));
    format_box_->setEditable(true);
    format_box_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* choice : kFormatChoices) format_box_->addItem(QString::fromLatin1(choice));
    format_box_->setEditText(format_text.isEmpty() ? QStringLiteral("combined") : format_text);
    format_box_->setToolTip(
        tr("combined (по умолчанию), common, vhost_combined, w3c, caddy, auto (формат каждого "
           "файла узнаётся по его первым строкам) или строка формата из настроек сервера: "
           "LogFormat Apache (%h %t \"%r\" %>s ...) или log_format nginx ($remote_addr "
           "[$time_local] \"$request\" $status ...)"));
    format_box_->setGeometry(du.Rect(76, 39 + period_row, 140, 14));
    // A long format string shows its beginning, where its first fields are.
    format_box_->lineEdit()->setCursorPosition(0);
  }

  if (country_database != nullptr) {
    const int top = 39 + period_row + format_row;
    auto* label = new QLabel(tr("База стран"), this);
    label->setGeometry(du.Rect(7, top + 2, 66, 10));
    countries_ = new QLineEdit(QFile::decodeName(QByteArray::fromStdString(*country_database)),
                               this);
    countries_->setObjectName(QStringLiteral("country_database"));
    countries_->setPlaceholderText(tr("встроенная"));
    countries_->setToolTip(
        tr("Файл базы стран в формате MaxMind DB, например GeoLite2-Country.mmdb; пустое поле — "
           "база, которая входит в программу. Добавлять можно только с той же базой, с какой "
           "посчитана статистика."));
    countries_->setGeometry(du.Rect(76, top, 116, 14));
    auto* choose = new QPushButton(QStringLiteral("..."), this);
    choose->setObjectName(QStringLiteral("choose_country_database"));
    choose->setToolTip(tr("Выбрать файл базы стран"));
    choose->setGeometry(du.Rect(196, top, 20, 14));
    connect(choose, &QPushButton::clicked, this, &AnalysePropDlg::ChooseCountryDatabase);
  }

  if (crawlers != nullptr) {
    crawlers_box_ = new QCheckBox(tr("Не учитывать запросы всех известных роботов"), this);
    crawlers_box_->setObjectName(QStringLiteral("all_crawlers"));
    crawlers_box_->setChecked(*crawlers == CrawlerMode::kAll);
    crawlers_box_->setToolTip(
        tr("Без отметки статистика не учитывает только роботов описанных поисковых систем; с "
           "отметкой также всех других известных роботов, программы чтения лент, мониторинг и "
           "скрипты. Добавлять можно только с тем же выбором, с каким посчитана статистика."));
    crawlers_box_->setGeometry(du.Rect(7, 41 + period_row + format_row + countries_row, 209, 10));
  }

  auto* ok = new QPushButton(tr("Анализ"), this);
  ok->setDefault(true);
  ok->setGeometry(du.Rect(110, 42 + extra, 50, 14));
  auto* cancel = new QPushButton(tr("Отмена"), this);
  cancel->setGeometry(du.Rect(166, 42 + extra, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void AnalysePropDlg::accept() {
  std::shared_ptr<const LogFormat> format;
  if (format_ != nullptr) {
    // An empty text is the default reading, as the list's first choice is.
    const QString text = format_box_->currentText();
    if (!text.trimmed().isEmpty()) {
      try {
        format = LogFormat::Compile(text.toStdString());
      } catch (const LogFormatError& e) {
        ShowMessage(this, tr("Формат журнала не понят: ") +
                              QString::fromStdString(DescribeLogFormatError(e)));
        return;
      }
    }
  }
  // The file is opened as the run will open it: a refusal now rather than a failed run.
  std::string countries;
  if (country_database_ != nullptr) {
    const QString text = countries_->text().trimmed();
    countries = QFile::encodeName(text).toStdString();
    if (!countries.empty()) {
      try {
        OpenCountryDatabase(countries);
      } catch (const std::exception& e) {
        ShowMessage(this, tr("База стран не подходит: ") + QString::fromStdString(e.what()));
        return;
      }
    }
  }
  if (period_ != nullptr) {
    Period period;
    const struct {
      QLineEdit* edit;
      std::optional<int>& day;
    } ends[] = {{first_, period.first}, {last_, period.last}};
    for (const auto& end : ends) {
      const QString text = end.edit->text().trimmed();
      if (text.isEmpty()) continue;
      end.day = ParseIsoDay(text.toStdString());
      if (!end.day) {
        ShowMessage(this, tr("Дата периода пишется как ГГГГ-ММ-ДД: ") + text);
        return;
      }
    }
    if (period.first && period.last && *period.first > *period.last) {
      ShowMessage(this, tr("Начало периода позже его конца"));
      return;
    }
    *period_ = period;
  }
  if (format_ != nullptr) {
    if (format && format->kind() == LogFormat::Kind::kCombined) format.reset();
    *format_ = std::move(format);
  }
  if (crawlers_ != nullptr)
    *crawlers_ = crawlers_box_->isChecked() ? CrawlerMode::kAll : CrawlerMode::kDescribed;
  if (country_database_ != nullptr) *country_database_ = countries;
  // The engine compares extensions as Windows-1251 bytes, case-insensitively.
  const std::string text = ConvertCodePage(edit_->text().toStdString(), kCodePageUtf8,
                                           kCodePage1251);
  ParseExtensionList(text, target_);
  QDialog::accept();
}

void AnalysePropDlg::ChooseCountryDatabase() {
  const QStringList chosen = Seams().choose_files(
      this, tr("Базы стран (*.mmdb);;Все файлы (*)"));
  if (!chosen.isEmpty()) countries_->setText(chosen.front());
}

}  // namespace hitsieve
