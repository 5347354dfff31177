#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <QComboBox>
#include <QHeaderView>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "run/analysis_job.h"
#include "engine/search_engine.h"
#include "store/stats_database.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/page_stats_tab.h"
#include "ui/queries_tab.h"
#include "ui/referer_grid.h"
#include "ui/referer_tab.h"
#include "ui/robot_log_grid.h"
#include "ui/robots_tab.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using Cells = std::vector<std::vector<std::string>>;

constexpr char kGoogleBot[] = "Mozilla/5.0 (compatible; Googlebot/2.1)";
constexpr char kYandexBot[] = "Mozilla/5.0 (compatible; YandexBot/3.0)";

// "привет" in UTF-8 and in Windows-1251; "слон" in UTF-8, Windows-1251 and KOI8-R (the last
// percent-encoded twice, as the older paged results give it).
constexpr char kGoogleHello[] =
    "http://www.google.com/search?hl=ru&q=%D0%BF%D1%80%D0%B8%D0%B2%D0%B5%D1%82";
constexpr char kRamblerHello[] = "http://www.rambler.ru/srch?words=%EF%F0%E8%E2%E5%F2&x=1";
constexpr char kYandexElephant[] = "http://yandex.ru/yandsearch?text=%D1%81%D0%BB%D0%BE%D0%BD";
constexpr char kYandexKoiElephant[] = "http://www.yandex.ru/yandpage?qs=text%3D%25D3%25CC%25CF%25CE";
constexpr char kAportElephant[] = "http://sm.aport.ru/scripts/template.dll?r=%F1%EB%EE%ED&x=1";
constexpr char kWebaltaElephant[] = "http://webalta.ru/search?q=%F1%EB%EE%ED";
constexpr char kMailPhrase[] = "http://go.mail.ru/search?q=test+phrase";
constexpr char kForum[] = "http://forum.example.org/topic?from=www.google.com";
// A referer with raw Windows-1251 bytes: "каталог".
constexpr char kCatalog[] = "http://site.example/\xEA\xE0\xF2\xE0\xEB\xEE\xE3";

std::string Line(const std::string& ip, const std::string& day, const std::string& url,
                 long bytes, const std::string& referer, const std::string& agent = "Mozilla/5.0",
                 int status = 200) {
  return ip + " - - [" + day + ":12:00:00 +0300] \"GET " + url + " HTTP/1.1\" " +
         std::to_string(status) + " " + std::to_string(bytes) + " \"" + referer + "\" \"" +
         agent + "\"";
}

std::vector<std::string> FirstLog() {
  const std::string d1 = "10/Mar/2009", d2 = "09/Mar/2009";
  return {
      Line("1.1.1.1", d1, "/index.html", 1048576, kGoogleHello),
      Line("1.1.1.2", d1, "/index.html", 1048576, kRamblerHello),
      Line("1.1.1.3", d2, "/index.html", 1048576, kYandexElephant),
      Line("1.1.1.4", d2, "/index.html", 1048576, "-"),
      Line("1.1.1.4", d2, "/index.html", 0, "-"),
      Line("1.1.1.1", d1, "/about.htm", 524288, std::string(kGoogleHello) + "&start=10"),
      Line("1.1.1.5", d1, "/about.htm", 262144, kForum),
      Line("1.1.1.5", d1, "/about.htm", 0, kForum),
      Line("1.1.1.8", d2, "/about.htm", 0, kYandexKoiElephant),
      Line("1.1.1.6", d2, "/zero.php", 0, kAportElephant),
      Line("1.1.1.6", d2, "/zero.php", 0, kWebaltaElephant),
      Line("1.1.1.7", d2, "/zero.php", 0, kMailPhrase),
      Line("1.1.1.7", d2, "/cat.html", 0, kCatalog),
      Line("1.1.1.9", d2, "/img/logo.gif", 5000, kForum),  // not a page: counted nowhere
      // Robots, in no particular order of date.
      Line("66.249.1.1", "11/Mar/2009", "/index.html", 1000, "-", kGoogleBot),
      Line("66.249.1.2", "01/Apr/2009", "/robots.txt", 1000, "-", kGoogleBot),
      Line("77.88.1.1", "10/Mar/2009", "/about.htm", 1000, "-", kYandexBot),
      Line("81.19.1.1", "12/Mar/2009", "/zero.php", 1000, "-", "StackRambler/2.0"),
      Line("194.67.1.1", "02/Mar/2009", "/index.html", 0, "-", "Aport", 404),
      Line("1.2.3.4", "09/Mar/2009", "/", 1000, "-", "WebAlta Crawler/2.0"),
  };
}

class ReportScreensTest : public UiTest {
 protected:
  static PageStatsTab& Pages(MainDlg& w) { return *static_cast<PageStatsTab*>(w.Screen(2)); }
  static RefererTab& Referers(MainDlg& w) { return *static_cast<RefererTab*>(w.Screen(3)); }
  static QueriesTab& Queries(MainDlg& w) { return *static_cast<QueriesTab*>(w.Screen(4)); }
  static RobotsTab& Robots(MainDlg& w) { return *static_cast<RobotsTab*>(w.Screen(5)); }

  static void Apply(RefererTab& tab, const QString& text) {
    tab.ExcludeEdit()->setText(text);
    QTest::mouseClick(tab.findChild<QPushButton*>("apply"), Qt::LeftButton);
  }

  static void Choose(RobotsTab& tab, int index) {
    // As the user does it: the drop-down reports an activated item.
    tab.RobotChoice()->setCurrentIndex(index);
    emit tab.RobotChoice()->activated(index);
  }

  static QStringList ChoiceItems(const RobotsTab& tab) {
    QStringList items;
    for (int i = 0; i < tab.RobotChoice()->count(); ++i) items << tab.RobotChoice()->itemText(i);
    return items;
  }

};

// Referer rows of equal count come in the database's order: compare them as a set, and check
// that the counts never rise down the list.
void ExpectReferers(const Cells& expected, const Cells& shown, const char* label) {
  for (size_t i = 1; i < shown.size(); ++i)
    EXPECT_GE(std::stoi(shown[i - 1][1]), std::stoi(shown[i][1])) << label << " row " << i;
  EXPECT_EQ(std::multiset(expected.begin(), expected.end()),
            std::multiset(shown.begin(), shown.end()))
      << label;
}

const Cells kAllHosts = {{"www.google.com", "2"}, {"forum.example.org", "2"},
                         {"www.rambler.ru", "1"}, {"yandex.ru", "1"},
                         {"www.yandex.ru", "1"},  {"sm.aport.ru", "1"},
                         {"webalta.ru", "1"},     {"go.mail.ru", "1"},
                         {"site.example", "1"}};
const Cells kAllReferers = {{kForum, "2"},
                            {kGoogleHello, "1"},
                            {std::string(kGoogleHello) + "&start=10", "1"},
                            {kRamblerHello, "1"},
                            {kYandexElephant, "1"},
                            {kYandexKoiElephant, "1"},
                            {kAportElephant, "1"},
                            {kWebaltaElephant, "1"},
                            {kMailPhrase, "1"},
                            {"http://site.example/каталог", "1"}};

Cells Without(const Cells& rows, const std::string& part) {
  Cells kept;
  for (const auto& row : rows)
    if (row[0].find(part) == std::string::npos) kept.push_back(row);
  return kept;
}

TEST_F(ReportScreensTest, PagesAndQueriesShowTheRunWithTotalsFirst) {
  MainDlg window;
  ASSERT_EQ(1, Pages(window).Grid()->Model()->RowCount());  // the totals row only
  Analyse(FirstLog());
  window.Reload();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();

  const Cells pages = {{"", "13", "8", "4,75", "2", "2", "1", "1", "1", "1"},
                       {"/index.html", "5", "3", "4,00", "1", "1", "1", "-", "-", "-"},
                       {"/about.htm", "4", "2", "0,75", "1", "1", "-", "-", "-", "-"},
                       {"/zero.php", "3", "3", "0,00", "-", "-", "-", "1", "1", "1"},
                       {"/cat.html", "1", "-", "0,00", "-", "-", "-", "-", "-", "-"}};
  EXPECT_EQ(pages, GridCells(*Pages(window).Grid()));

  const Cells queries = {{"", "8", "2", "2", "1", "1", "1", "1"},
                         {"слон", "4", "-", "2", "-", "-", "1", "1"},
                         {"привет", "3", "2", "-", "1", "-", "-", "-"},
                         {"test phrase", "1", "-", "-", "-", "1", "-", "-"}};
  EXPECT_EQ(queries, GridCells(*Queries(window).Grid()));

  const auto headers = [](const ListCtrlGrid& grid) {
    std::vector<std::string> titles;
    for (int c = 0; c < grid.Model()->columnCount(); ++c)
      titles.push_back(grid.Model()->headerData(c, Qt::Horizontal).toString().toStdString());
    return titles;
  };
  EXPECT_EQ((std::vector<std::string>{"Запрос", "Всего", "Google", "Yandex", "Rambler", "Mail.ru",
                                      "Апорт", "Webalta"}),
            headers(*Queries(window).Grid()));
}

TEST_F(ReportScreensTest, ExclusionHidesMatchingReferersInBothListsAndOutlivesARun) {
  MainDlg window;
  RefererTab& tab = Referers(window);
  Analyse(FirstLog());
  window.Reload();
  ExpectReferers(kAllHosts, GridCells(*tab.HostGrid()), "hosts, no exclusion");
  ExpectReferers(kAllReferers, GridCells(*tab.PageGrid()), "referers, no exclusion");

  const struct {
    const char* label;
    QString text;
    std::string part;  // UTF-8 form of what is hidden
  } cases[] = {
      {"host text, also in the query part", QStringLiteral("google"), "google"},
      {"case must match", QStringLiteral("Google"), "Google"},
      {"path only", QStringLiteral("/srch?"), "/srch?"},
      {"typed Cyrillic matches stored Windows-1251", QStringLiteral("каталог"), "каталог"},
      {"empty shows all again", QString(), ""},
  };
  for (const auto& c : cases) {
    Apply(tab, c.text);
    const Cells hosts = c.part.empty() ? kAllHosts : Without(kAllHosts, c.part);
    const Cells referers = c.part.empty() ? kAllReferers : Without(kAllReferers, c.part);
    ExpectReferers(hosts, GridCells(*tab.HostGrid()), c.label);
    ExpectReferers(referers, GridCells(*tab.PageGrid()), c.label);
  }
  EXPECT_EQ(kAllReferers.size() - 3, Without(kAllReferers, "google").size());  // the filter bites

  // Typing alone changes nothing; an applied text stays for the reload after the next run.
  Apply(tab, QStringLiteral("yandex"));
  tab.ExcludeEdit()->setText(QStringLiteral("forum"));
  Analyse(FirstLog());
  window.Reload();
  ExpectReferers(Without(kAllHosts, "yandex"), GridCells(*tab.HostGrid()), "after a run");
  ExpectReferers(Without(kAllReferers, "yandex"), GridCells(*tab.PageGrid()), "after a run");
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

TEST_F(ReportScreensTest, RobotsSummaryChoiceAndFilteredLog) {
  MainDlg window;
  RobotsTab& tab = Robots(window);
  EXPECT_EQ(QStringList{QStringLiteral("Все")}, ChoiceItems(tab));
  EXPECT_TRUE(GridCells(*tab.SummaryGrid()).empty());
  Analyse(FirstLog());
  window.Reload();

  const Cells summary = {{"Google", "2"}, {"Rambler", "1"}, {"Webalta", "1"}, {"Yandex", "1"},
                         {"Апорт", "1"}};
  EXPECT_EQ(summary, GridCells(*tab.SummaryGrid()));
  EXPECT_EQ((QStringList{"Все", "Google", "Rambler", "Webalta", "Yandex", "Апорт"}),
            ChoiceItems(tab));
  const Cells all = {{"Google", "/robots.txt", "200", "66.249.1.2", "01/Apr/2009"},
                     {"Апорт", "/index.html", "404", "194.67.1.1", "02/Mar/2009"},
                     {"Webalta", "/", "200", "1.2.3.4", "09/Mar/2009"},
                     {"Yandex", "/about.htm", "200", "77.88.1.1", "10/Mar/2009"},
                     {"Google", "/index.html", "200", "66.249.1.1", "11/Mar/2009"},
                     {"Rambler", "/zero.php", "200", "81.19.1.1", "12/Mar/2009"}};
  EXPECT_EQ(all, GridCells(*tab.LogGrid()));

  const struct {
    const char* label;
    int index;
    Cells shown;
  } cases[] = {{"Google", 1, {all[0], all[4]}},
               {"Апорт", 5, {all[1]}},
               {"Yandex", 4, {all[3]}},
               {"Все again", 0, all}};
  for (const auto& c : cases) {
    Choose(tab, c.index);
    EXPECT_EQ(c.shown, GridCells(*tab.LogGrid())) << c.label;
    EXPECT_EQ(summary, GridCells(*tab.SummaryGrid())) << c.label;
  }
  EXPECT_TRUE(messages_.isEmpty());

  tab.OnRobotChosen(6);  // one past the last item
  tab.OnRobotChosen(-1);
  EXPECT_EQ((QStringList{"Fatal error: Unknown index", "Fatal error: Unknown index"}), messages_);
  EXPECT_EQ(all, GridCells(*tab.LogGrid()));

  // A new run puts the choice back at "Все" and shows every request of that run.
  Choose(tab, 1);
  Analyse({Line("66.249.1.3", "05/May/2009", "/a.html", 10, "-", kGoogleBot),
           Line("77.88.1.2", "04/May/2009", "/b.html", 10, "-", kYandexBot)});
  window.Reload();
  EXPECT_EQ(0, tab.RobotChoice()->currentIndex());
  EXPECT_EQ((QStringList{"Все", "Google", "Yandex"}), ChoiceItems(tab));
  EXPECT_EQ((Cells{{"Yandex", "/b.html", "200", "77.88.1.2", "04/May/2009"},
                   {"Google", "/a.html", "200", "66.249.1.3", "05/May/2009"}}),
            GridCells(*tab.LogGrid()));
}

TEST_F(ReportScreensTest, MissingTablesShowOneMessagePerScreenAndKeepTheRows) {
  MainDlg window;
  Analyse(FirstLog());
  window.Reload();
  const auto snapshot = [&] {
    return std::vector<Cells>{GridCells(*Pages(window).Grid()), GridCells(*Queries(window).Grid()),
                              GridCells(*Referers(window).HostGrid()),
                              GridCells(*Referers(window).PageGrid()),
                              GridCells(*Robots(window).SummaryGrid()),
                              GridCells(*Robots(window).LogGrid())};
  };
  const std::vector<Cells> before = snapshot();
  const QStringList items = ChoiceItems(Robots(window));

  for (const char* table : {"page_stats", "query_stats", "referer_stats", "robot_log"})
    StatsDatabase::Instance().session() << (std::string("DROP TABLE ") + table);
  window.Reload();
  ASSERT_EQ(4, messages_.size()) << messages_.join(" | ").toStdString();
  const char* tables[] = {"page_stats", "referer_stats", "query_stats", "robot_log"};  // reload order
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(messages_[i].contains(tables[i])) << messages_[i].toStdString();
  EXPECT_TRUE(before == snapshot());
  EXPECT_EQ(items, ChoiceItems(Robots(window)));

  // The drop-down still filters the requests that the lists show.
  messages_.clear();
  Choose(Robots(window), 1);
  EXPECT_EQ(2u, GridCells(*Robots(window).LogGrid()).size());
  // So does "Применить", over the rows it still shows; it reports the read failure again.
  Apply(Referers(window), QStringLiteral("google"));
  EXPECT_EQ(1, messages_.size());
  EXPECT_EQ(before[3], GridCells(*Referers(window).PageGrid()));
}

TEST_F(ReportScreensTest, ExcelAndApplyWaitForTheRunsEnd) {
  MainDlg window;
  const std::vector<QPushButton*> buttons = {
      Pages(window).findChild<QPushButton*>("excel"),
      Queries(window).findChild<QPushButton*>("excel"),
      Referers(window).findChild<QPushButton*>("apply")};
  for (QPushButton* b : buttons) ASSERT_NE(nullptr, b);
  window.SetRunActive(true);
  for (QPushButton* b : buttons) EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  window.SetRunActive(false);
  for (QPushButton* b : buttons) EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
}

TEST_F(ReportScreensTest, ExcelOfPagesAndQueriesOpensAWorkbook) {
  MainDlg window;
  Analyse(FirstLog());
  QTest::mouseClick(Pages(window).findChild<QPushButton*>("excel"), Qt::LeftButton);
  QTest::mouseClick(Queries(window).findChild<QPushButton*>("excel"), Qt::LeftButton);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
  ASSERT_EQ(2, opened_files_.size());
  for (const QString& path : opened_files_) {
    EXPECT_TRUE(path.endsWith(".xlsx")) << path.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0) << path.toStdString();
    QFile::remove(path);
  }
}

}  // namespace
}  // namespace hitsieve

namespace hitsieve {
namespace {

// As typing does, one character at a time (key events cannot carry Cyrillic here).
void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  for (QChar c : text) edit->insert(QString(c));
}

// The totals row of a filtered list totals the rows shown and says so.
std::vector<std::string> FilteredTotals(std::vector<std::string> row) {
  row[0] = "Итого (отобрано)";
  return row;
}

TEST_F(ReportScreensTest, SearchFieldsKeepMatchingRowsAndTotalThem) {
  MainDlg window;
  Analyse(FirstLog());
  window.Reload();
  QueriesTab& queries = Queries(window);
  const Cells all = GridCells(*queries.Grid());
  Type(queries.FilterEdit(), QStringLiteral("СЛО"));  // upper case against stored lower case
  EXPECT_EQ((Cells{FilteredTotals(all[1]), all[1]}), GridCells(*queries.Grid()));
  Type(queries.FilterEdit(), QStringLiteral("нет такого"));
  const Cells nothing = {{"Итого (отобрано)", "", "", "", "", "", "", ""}};
  EXPECT_EQ(nothing, GridCells(*queries.Grid())) << "nothing to total";
  Type(queries.FilterEdit(), QString());
  EXPECT_EQ(all, GridCells(*queries.Grid())) << "the totals of every row again";
  Type(queries.FilterEdit(), QStringLiteral("нет такого"));

  PageStatsTab& pages = Pages(window);
  Type(pages.FilterEdit(), QStringLiteral(".HTML"));
  const Cells shown = GridCells(*pages.Grid());
  ASSERT_EQ(3u, shown.size());
  EXPECT_EQ("/index.html", shown[1][0]);
  EXPECT_EQ("/cat.html", shown[2][0]);
  EXPECT_EQ("Итого (отобрано)", shown[0][0]);
  EXPECT_EQ(std::to_string(std::stoi(shown[1][1]) + std::stoi(shown[2][1])), shown[0][1]);
  EXPECT_EQ(shown[1][3], shown[0][3]) << "the traffic of /cat.html is 0";

  // One field serves both referer lists; a raw Windows-1251 referer is found by typed Cyrillic.
  RefererTab& referers = Referers(window);
  Type(referers.FilterEdit(), QStringLiteral("КАТАЛОГ"));
  EXPECT_EQ((Cells{{"http://site.example/каталог", "1"}}), GridCells(*referers.PageGrid()));
  EXPECT_TRUE(GridCells(*referers.HostGrid()).empty());
  Type(referers.FilterEdit(), QStringLiteral("Site."));
  EXPECT_EQ((Cells{{"site.example", "1"}}), GridCells(*referers.HostGrid()));

  // The robots' filter works within the chosen robot and survives a new choice.
  RobotsTab& robots = Robots(window);
  Type(robots.FilterEdit(), QStringLiteral("index"));
  EXPECT_EQ(2u, GridCells(*robots.LogGrid()).size());
  Choose(robots, 1);  // Google
  const Cells google = GridCells(*robots.LogGrid());
  ASSERT_EQ(1u, google.size());
  EXPECT_EQ("/index.html", google[0][1]);
  // A reload after a run keeps the typed text in force.
  Analyse(FirstLog());
  window.Reload();
  EXPECT_EQ(nothing, GridCells(*queries.Grid())) << "no such phrase after the reload";
}

// The referers are found by what their tooltips show: the percent-decoded text, in UTF-8 or,
// where the escapes are no UTF-8, in Windows-1251.
TEST_F(ReportScreensTest, RefererSearchMatchesTheDecodedText) {
  MainDlg window;
  Analyse({Line("1.1.1.1", "10/Mar/2009", "/p.html", 10,
                "http://example.org/find?q=%D1%81%D1%87%D1%91%D1%82%D1%87%D0%B8%D0%BA"),
           Line("1.1.1.2", "10/Mar/2009", "/p.html", 10, "http://example.net/?w=%F1%F7%B8%F2%F7%E8%EA"),
           Line("1.1.1.3", "10/Mar/2009", "/p.html", 10, "http://example.com/other")});
  window.Reload();
  RefererTab& referers = Referers(window);
  Type(referers.FilterEdit(), QStringLiteral("СЧЁТЧИК"));
  EXPECT_EQ((Cells{{"http://example.net/?w=%F1%F7%B8%F2%F7%E8%EA", "1"},
                   {"http://example.org/find?q=%D1%81%D1%87%D1%91%D1%82%D1%87%D0%B8%D0%BA", "1"}}),
            GridCells(*referers.PageGrid()));
  EXPECT_TRUE(GridCells(*referers.HostGrid()).empty());
  Type(referers.FilterEdit(), QStringLiteral("%D1%81%D1%87"));  // the raw text still matches
  EXPECT_EQ(1u, GridCells(*referers.PageGrid()).size());
}

TEST_F(ReportScreensTest, TooltipsShowTheWholeTextDecodedAndInert) {
  const std::string hostile = "http://evil.example/<b>bold</b>?q=%3Cscript%3E%D1%81%0A";
  const std::string look_alike = "https://www.%D0%B0pple.com/%E2%80%AEx";
  MainDlg window;
  Analyse({Line("1.1.1.1", "10/Mar/2009", "/p.html", 10, hostile),
           Line("1.1.1.2", "10/Mar/2009", "/p.html", 10, kRamblerHello),
           Line("1.1.1.3", "10/Mar/2009", "/p.html", 10, look_alike)});
  window.Reload();
  const ListCtrlGrid& grid = *Referers(window).PageGrid();
  std::map<std::string, QString> tips;
  for (int row = 0; row < grid.Model()->RowCount(); ++row)
    tips[grid.Model()->Cell(row, 0)] =
        grid.Model()->data(grid.Model()->index(row, 0), Qt::ToolTipRole).toString();
  const QString evil = tips[hostile];
  EXPECT_TRUE(evil.contains(QStringLiteral("&lt;b&gt;bold&lt;/b&gt;"))) << evil.toStdString();
  EXPECT_TRUE(evil.contains(QStringLiteral("&lt;script&gt;с\uFFFD"))) << evil.toStdString();
  EXPECT_FALSE(evil.contains(QStringLiteral("<b>")));
  EXPECT_FALSE(evil.contains(QStringLiteral("<script")));
  // Escapes in Windows-1251 are decoded as such.
  EXPECT_TRUE(tips[kRamblerHello].contains(QStringLiteral("words=привет&amp;x=1")))
      << tips[kRamblerHello].toStdString();
  // An address names the host it opens, never a decoded look-alike, and nothing reorders it.
  EXPECT_TRUE(tips[look_alike].contains(QStringLiteral("https://www.xn--pple-43d.com/\uFFFDx")))
      << tips[look_alike].toStdString();
  EXPECT_FALSE(tips[look_alike].contains(QStringLiteral("\u0430pple")));
  // A text without escapes shows itself alone.
  const QString hosts = Referers(window).HostGrid()->Model()->data(
      Referers(window).HostGrid()->Model()->index(0, 0), Qt::ToolTipRole).toString();
  EXPECT_TRUE(hosts.isEmpty()) << "host names need no tooltip";
}

// At the window's default size a user sees every column of the pages and phrases lists.
TEST_F(ReportScreensTest, PagesAndQueriesShowEveryColumnAtTheDefaultSize) {
  MainDlg window;
  window.show();
  for (int screen : {2, 4}) {
    window.ShowScreen(screen);
    const ListCtrlGrid& grid = *static_cast<GridReportScreen*>(window.Screen(screen))->Grid();
    const int last = grid.Model()->columnCount() - 1;
    EXPECT_LE(grid.horizontalHeader()->sectionViewportPosition(last) +
                  grid.horizontalHeader()->sectionSize(last),
              grid.viewport()->width())
        << "screen " << screen;
    EXPECT_GE(grid.columnWidth(0), 120) << "the text column keeps room, screen " << screen;
  }
}

}  // namespace
}  // namespace hitsieve
