#include <memory>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include "engine/log_format/log_format.h"
#include "run/analysis_job.h"
#include "ui/analyse_prop_dlg.h"
#include "ui/common_stat_dlg.h"
#include "ui/kept_settings.h"
#include "ui/languages.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/settings_tab.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

const QString kDone = QStringLiteral("Анализ завершен!");

class LogFormatChoiceTest : public UiTest {
 protected:
  // Presses "Анализ" with `format` typed into the dialog's format box; waits for the message.
  // The message as UTF-8, which a failure shows as text.
  std::string Run(MainDlg& window, const QString& format) {
    on_dialog_ = [format, this](QDialog& dialog) {
      opened_with_ = dialog.findChild<QComboBox*>("log_format")->currentText();
      dialog.findChild<QComboBox*>("log_format")->setEditText(format);
      dialog.accept();
      return dialog.result();
    };
    messages_.clear();
    QTest::mouseClick(window.Settings()->findChild<QPushButton*>("analyse"), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !messages_.isEmpty(); }));
    EXPECT_TRUE(WaitUntil([&] { return !window.Settings()->IsRunActive(); }));
    if (messages_.size() != 1) ADD_FAILURE() << messages_.join("|").toStdString();
    return messages_.isEmpty() ? std::string() : messages_.front().toStdString();
  }

  QString opened_with_;
};

// Each text as the dialog's "Анализ" takes it: the format it compiles to, or the command line's
// refusal, which keeps the dialog open and the previous format.
TEST_F(LogFormatChoiceTest, DialogCompilesTheFormatOrRefusesItAsTheCommandLineDoes) {
  ExtensionSet extensions;
  Period period;
  const std::shared_ptr<const LogFormat> before = LogFormat::Compile("common");
  std::shared_ptr<const LogFormat> format = before;
  AnalysePropDlg dialog(extensions, QStringLiteral("html"), nullptr, &period, &format,
                        QStringLiteral("vhost_combined"));
  QComboBox* box = dialog.LogFormatBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(QStringLiteral("vhost_combined"), box->currentText());
  QStringList choices;
  for (int i = 0; i < box->count(); ++i) choices << box->itemText(i);
  EXPECT_EQ((QStringList{"combined", "common", "vhost_combined", "w3c", "caddy", "auto"}), choices);

  const struct {
    const char* text;
    const char* refusal;  // null: accepted
    bool combined;        // accepted as the default reading (a null format)
    LogFormat::Kind kind;
  } cases[] = {
      {"%h %l %u %t \"%{Referer", "at character 14: '%{' has no closing '}'", false, {}},
      {"bogus", "at character 1: unknown preset 'bogus' (combined, common, vhost_combined, w3c, "
                "caddy or auto)", false, {}},
      {"$remote_addr $status", "at character 21: the format has no time field", false, {}},
      {"{\"t\":\"$time_local\"", "at character 19: the JSON template needs '}' here", false, {}},
      {"combined", nullptr, true, {}},
      {"", nullptr, true, {}},
      {"auto", nullptr, false, LogFormat::Kind::kAuto},
      {"w3c", nullptr, false, LogFormat::Kind::kW3c},
      {"$remote_addr [$time_local] \"$request\" $status $request_time", nullptr, false,
       LogFormat::Kind::kTemplate},
      {"{\"t\":\"$time_iso8601\",\"r\":\"$request\"}", nullptr, false, LogFormat::Kind::kJson},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    format = before;
    messages_.clear();
    dialog.setResult(QDialog::Rejected);
    box->setEditText(QString::fromUtf8(c.text));
    dialog.accept();
    if (c.refusal != nullptr) {
      EXPECT_EQ(QDialog::Rejected, dialog.result());
      EXPECT_EQ(QStringList{QStringLiteral("Формат журнала не понят: ") + QString::fromUtf8(c.refusal)},
                messages_);
      EXPECT_EQ(before, format);
      continue;
    }
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_TRUE(messages_.isEmpty());
    if (c.combined) {
      EXPECT_EQ(nullptr, format);
    } else {
      ASSERT_NE(nullptr, format);
      EXPECT_EQ(c.kind, format->kind());
    }
  }
}

// The same requests written as combined, as vhost_combined and as a W3C log give the same days
// with "auto" as the combined log gives; the message names each file's format, the choice is
// kept for the next window, and the default reading of the vhost log says what would read it.
TEST_F(LogFormatChoiceTest, AutoReadsEachFileInItsFormatAndTheMessageNamesThem) {
  const std::vector<std::string> a = {LogLine("10.0.0.1", "02/Jan/2009", "/index.html"),
                                      LogLine("10.0.0.2", "02/Jan/2009", "/a.html")};
  const std::vector<std::string> b = {LogLine("10.0.0.3", "03/Jan/2009", "/b.html",
                                              "http://example.org/x"),
                                      LogLine("10.0.0.1", "03/Jan/2009", "/c.html")};
  std::vector<std::string> all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.push_back(LogLine("10.0.0.4", "05/Jan/2009", "/d.html", "-", "Mozilla/5.0 (X11)"));
  const QString combined_all = WriteLog("all.log", all);

  std::vector<std::string> vhost;
  for (const std::string& line : b) vhost.push_back("www.example.org:443 " + line);
  const QString logs[] = {
      WriteLog("1-combined.log", a), WriteLog("2-vhost.log", vhost),
      WriteLog("3-iis.log", {"#Software: a web server", "#Fields: date time c-ip cs-method "
                             "cs-uri-stem cs-uri-query sc-status sc-bytes cs(User-Agent)",
                             "2009-01-05 07:00:00 10.0.0.4 GET /d.html - 200 1000 "
                             "Mozilla/5.0+(X11)"})};
  std::vector<std::vector<std::string>> expected;
  {
    MainDlg window;
    window.show();
    window.Settings()->AddLogFiles({combined_all});
    ASSERT_EQ(kDone.toStdString(), Run(window, QStringLiteral("combined")));
    EXPECT_EQ(QStringLiteral("combined"), opened_with_);  // nothing kept yet
    expected = GridCells(*window.CommonStats()->Grid());
    ASSERT_EQ(4u, expected.size());
  }

  KeepLogFiles({});  // the next window lists the three files alone
  MainDlg window;
  window.show();
  window.Settings()->AddLogFiles({logs[0], logs[1], logs[2]});
  ASSERT_EQ(3u, window.Settings()->LogFiles().size());

  EXPECT_EQ((kDone + "\nФорматы журналов:\n" + logs[0] + ": combined\n" + logs[1] +
             ": vhost_combined\n" + logs[2] + ": w3c").toStdString(),
            Run(window, QStringLiteral("auto")));
  EXPECT_EQ(QStringLiteral("Готово"), window.Settings()->findChild<QLabel*>("status")->text());
  EXPECT_EQ(expected, GridCells(*window.CommonStats()->Grid()));
  EXPECT_EQ(QStringLiteral("auto"), KeptLogFormatText());

  // The next run's dialog opens with the choice kept; read as combined, the vhost and W3C logs
  // are mostly not recognised and the message says which format reads each.
  const std::string message = Run(window, QStringLiteral("combined"));
  EXPECT_EQ(QStringLiteral("auto"), opened_with_);
  EXPECT_EQ((kDone + "\n" + logs[1] + ": не распознано 2 из 2 строк; выберите формат журнала "
                     "auto (файл читается как vhost_combined)\n" + logs[2] +
             ": не распознано 3 из 3 строк; выберите формат журнала auto (файл читается как "
             "w3c)").toStdString(),
            message);
}

// A format string of the server's own: the lines are read by it and the message names it; a
// format the dialog refused never reaches a run.
TEST_F(LogFormatChoiceTest, ServersOwnFormatStringIsUsedAndNamed) {
  const QString nginx =
      QStringLiteral("$remote_addr - $remote_user [$time_local] \"$request\" $status "
                     "$body_bytes_sent $request_time \"$http_referer\" \"$http_user_agent\"");
  const QString log = WriteLog(
      "nginx.log",
      {"10.0.0.1 - - [02/Jan/2009:10:00:00 +0300] \"GET /a.html HTTP/1.1\" 200 10 0.003 \"-\" "
       "\"Mozilla/5.0\"",
       "10.0.0.2 - - [02/Jan/2009:10:00:01 +0300] \"GET /b.html HTTP/1.1\" 200 10 0.010 "
       "\"http://example.org/\" \"Mozilla/5.0\""});
  MainDlg window;
  window.show();
  window.Settings()->AddLogFiles({log});
  EXPECT_EQ((kDone + "\nФормат журналов: " + nginx).toStdString(), Run(window, nginx));
  EXPECT_EQ(QStringLiteral("Готово"), window.Settings()->findChild<QLabel*>("status")->text());
  const std::vector<std::vector<std::string>> days = {{"", "2", "2", "2", "-"},
                                                      {"02/Jan/2009", "2", "2", "2", "-"}};
  EXPECT_EQ(days, GridCells(*window.CommonStats()->Grid()));
  EXPECT_EQ(nginx, KeptLogFormatText());

  // Refused in the dialog: the dialog stays open (the test's seam then gives up on it), no
  // run starts and the kept format stays the last good one.
  on_dialog_ = [](QDialog& dialog) {
    dialog.findChild<QComboBox*>("log_format")->setEditText(QStringLiteral("%h %t %{"));
    dialog.accept();
    return dialog.result();
  };
  messages_.clear();
  QTest::mouseClick(window.Settings()->findChild<QPushButton*>("analyse"), Qt::LeftButton);
  EXPECT_FALSE(window.Settings()->IsRunActive());
  EXPECT_EQ(QStringList{QStringLiteral("Формат журнала не понят: at character 7: '%{' has no "
                                       "closing '}'")},
            messages_);
  EXPECT_EQ(nginx, KeptLogFormatText());
}

// "All known crawlers" in the same dialog: kept for the next run and given to it, so that a
// crawler of the list is left out of the days.
TEST_F(LogFormatChoiceTest, AllCrawlersChoiceIsKeptAndLeavesThemOut) {
  const QString log = WriteLog(
      "crawled.log",
      {LogLine("10.0.0.1", "02/Mar/2010", "/a.html"),
       LogLine("10.0.0.2", "02/Mar/2010", "/b.html", "-",
               "Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2)")});
  MainDlg window;
  window.show();
  window.Settings()->AddLogFiles({log});
  bool opened_checked = true;
  auto run = [&](bool all) {
    on_dialog_ = [&opened_checked, all](QDialog& dialog) {
      QCheckBox* box = dialog.findChild<QCheckBox*>("all_crawlers");
      opened_checked = box->isChecked();
      box->setChecked(all);
      dialog.accept();
      return dialog.result();
    };
    messages_.clear();
    QTest::mouseClick(window.Settings()->findChild<QPushButton*>("analyse"), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !messages_.isEmpty() && !window.Settings()->IsRunActive(); }));
    return GridCells(*window.CommonStats()->Grid());
  };
  const auto described = run(false);
  EXPECT_FALSE(opened_checked);
  EXPECT_EQ(CrawlerMode::kDescribed, KeptCrawlerMode());
  ASSERT_EQ(2u, described.size());
  EXPECT_EQ("2", described[1][3]);  // both requests are views
  const auto all = run(true);
  EXPECT_FALSE(opened_checked);
  EXPECT_EQ(CrawlerMode::kAll, KeptCrawlerMode());
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ("1", all[1][3]);  // the crawler's is left out
  run(true);
  EXPECT_TRUE(opened_checked);
}

TEST_F(LogFormatChoiceTest, EnglishDialogAndRefusal) {
  ASSERT_TRUE(InstallTranslations(*qApp, UiLanguage::kEnglish));
  ExtensionSet extensions;
  Period period;
  std::shared_ptr<const LogFormat> format;
  {
    AnalysePropDlg dialog(extensions, QStringLiteral("html"), nullptr, &period, &format,
                          QStringLiteral("%h %t \"%r\" %Z"));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains(QStringLiteral("Log format"))) << labels.join("|").toStdString();
    EXPECT_TRUE(dialog.LogFormatBox()->toolTip().startsWith("combined (the default)"));
    dialog.accept();
    EXPECT_EQ(QStringList{"Log format not understood: at character 13: unknown directive '%Z'"},
              messages_);
  }
  for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

}  // namespace
}  // namespace hitsieve
