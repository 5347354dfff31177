#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "engine/dimensions/country_database.h"
#include "store/dimension_reports.h"
#include "ui/analyse_prop_dlg.h"
#include "ui/kept_settings.h"
#include "ui/main_dlg.h"
#include "ui/settings_tab.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

class CountryDatabaseChoiceTest : public UiTest {
 protected:
  // A country database of the tests' own (1.2.3.0/24 DE, 5.6.0.0/16 FR...), written by
  // tests/data/make-country-db.pl.
  QString TestCountries() {
    const QString path = TempPath(QStringLiteral("countries.mmdb"));
    const std::string command = std::string("/usr/bin/perl '") + HITSIEVE_SOURCE_DIR +
                                "/tests/data/make-country-db.pl' '" +
                                QFile::encodeName(path).toStdString() + "' code 6";
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    return path;
  }
};

// A file that is no country database keeps the dialog open with the command line's message
// and leaves the choice as it was; "..." puts the chosen file into the field, which is taken.
TEST_F(CountryDatabaseChoiceTest, DialogRefusesWhatIsNoCountryDatabase) {
  const QString damaged = TempPath(QStringLiteral("damaged.mmdb"));
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4000, 'x'));
  }
  const QString good = TestCountries();
  const struct {
    QString path;
    const char* error;
  } refused[] = {{damaged, kCountryDbDamagedError},
                 {TempPath(QStringLiteral("missing.mmdb")), kCountryDbMissingError},
                 {HomePath(), kCountryDbNotFileError}};
  ExtensionSet extensions;
  std::string chosen = "kept before";
  AnalysePropDlg dialog(extensions, QStringLiteral("html"), nullptr, nullptr, nullptr, QString(),
                        nullptr, &chosen);
  QLineEdit* edit = dialog.CountryDatabaseEdit();
  ASSERT_NE(nullptr, edit);
  EXPECT_EQ(QStringLiteral("kept before"), edit->text());
  for (const auto& file : refused) {
    SCOPED_TRACE(file.path.toStdString());
    messages_.clear();
    edit->setText(file.path);
    dialog.accept();
    EXPECT_EQ(QStringList{QStringLiteral("База стран не подходит: ") + file.path +
                          QStringLiteral(": ") + QString::fromUtf8(file.error)},
              messages_);
    EXPECT_NE(QDialog::Accepted, dialog.result());
    EXPECT_EQ("kept before", chosen);
  }
  messages_.clear();
  chosen_files_ = {good};
  QTest::mouseClick(dialog.findChild<QPushButton*>("choose_country_database"), Qt::LeftButton);
  EXPECT_EQ(good, edit->text());
  dialog.accept();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(QDialog::Accepted, dialog.result());
  EXPECT_EQ(QFile::encodeName(good).toStdString(), chosen);
  // An empty field is the database that comes with the program.
  edit->clear();
  dialog.accept();
  EXPECT_EQ("", chosen);
}

// The chosen file is kept for the next run and is the one the run looks the addresses up in.
TEST_F(CountryDatabaseChoiceTest, ChosenDatabaseIsKeptAndCountsTheCountries) {
  const QString countries = TestCountries();
  const QString log = WriteLog("site.log", {LogLine("1.2.3.4", "02/Mar/2010", "/a.html"),
                                            LogLine("5.6.7.8", "02/Mar/2010", "/b.html"),
                                            LogLine("5.6.7.9", "03/Mar/2010", "/c.html")});
  MainDlg window;
  window.show();
  window.Settings()->AddLogFiles({log});
  QString opened_with = QStringLiteral("unset");
  auto run = [&](const QString& file) {
    on_dialog_ = [&opened_with, file](QDialog& dialog) {
      auto* edit = dialog.findChild<QLineEdit*>("country_database");
      opened_with = edit->text();
      edit->setText(file);
      dialog.accept();
      return dialog.result();
    };
    messages_.clear();
    QTest::mouseClick(window.Settings()->findChild<QPushButton*>("analyse"), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !messages_.isEmpty() && !window.Settings()->IsRunActive(); }));
    std::set<std::string> codes;
    ForEachDimensionReportRow(*FindDimensionReport("countries"),
                              [&](const std::vector<std::string>& row) { codes.insert(row[0]); });
    return codes;
  };
  EXPECT_EQ((std::set<std::string>{"DE", "FR"}), run(countries));
  EXPECT_EQ(QString(), opened_with);
  EXPECT_EQ(QFile::encodeName(countries).toStdString(), KeptCountryDatabase());
  run(countries);
  EXPECT_EQ(countries, opened_with);
}

}  // namespace
}  // namespace hitsieve
