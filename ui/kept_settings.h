#ifndef HITSIEVE_UI_KEPT_SETTINGS_H_
#define HITSIEVE_UI_KEPT_SETTINGS_H_

#include <optional>
#include <set>
#include <string>

#include <QSize>

#include "engine/dimensions/crawler_list.h"
#include <QString>

// What the window keeps between starts of the program: the log files, the extension text, the
// log format, the referer exclusion text, the window's size and the screen shown last. Kept in an INI file of
// the user's configuration folder (hitsieve/hitsieve.ini); tests point QSettings' INI path at a
// folder of their own. Each value is written when it changes. UI thread only.
namespace hitsieve {

// Paths in the local 8-bit encoding, in byte order.
std::set<std::string> KeptLogFiles();
void KeepLogFiles(const std::set<std::string>& files);

// The default extension list when nothing has been kept.
QString KeptExtensionText();
void KeepExtensionText(const QString& text);

// The log format as the user chose or typed it; "combined" when nothing has been kept.
QString KeptLogFormatText();
void KeepLogFormatText(const QString& text);

// Which crawlers a run leaves out; the described search engines' robots when nothing is kept.
CrawlerMode KeptCrawlerMode();
void KeepCrawlerMode(CrawlerMode mode);

// The country database file the user chose (a path in the local 8-bit encoding); empty for
// the one that comes with the program, also when nothing has been kept.
std::string KeptCountryDatabase();
void KeepCountryDatabase(const std::string& path);

QString KeptExclusionText();
void KeepExclusionText(const QString& text);

std::optional<QSize> KeptWindowSize();
void KeepWindowSize(const QSize& size);

// -1 when no screen has been chosen yet.
int KeptScreen();
void KeepScreen(int index);

}  // namespace hitsieve

#endif  // HITSIEVE_UI_KEPT_SETTINGS_H_
