#include "ui/kept_settings.h"

#include <QSettings>

#include "engine/page_filter.h"

namespace hitsieve {

namespace {

// Paths are kept as their bytes: a path that is not valid UTF-8 survives unchanged.
const char kFilesKey[] = "files";
const char kPathKey[] = "path";
const char kExtensionsKey[] = "extensions";
const char kLogFormatKey[] = "log_format";
const char kCrawlersKey[] = "crawlers";
const char kCountryDatabaseKey[] = "country_database";
const char kExclusionKey[] = "referers/exclude";
const char kSizeKey[] = "window/size";
const char kScreenKey[] = "window/screen";

class Store : public QSettings {
 public:
  Store()
      : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("hitsieve"),
                  QStringLiteral("hitsieve")) {}
};

}  // namespace

std::set<std::string> KeptLogFiles() {
  Store store;
  std::set<std::string> files;
  const int count = store.beginReadArray(kFilesKey);
  for (int i = 0; i < count; ++i) {
    store.setArrayIndex(i);
    const QByteArray path = store.value(kPathKey).toByteArray();
    if (!path.isEmpty()) files.insert(path.toStdString());
  }
  store.endArray();
  return files;
}

void KeepLogFiles(const std::set<std::string>& files) {
  Store store;
  store.remove(kFilesKey);
  store.beginWriteArray(kFilesKey, static_cast<int>(files.size()));
  int i = 0;
  for (const std::string& path : files) {
    store.setArrayIndex(i++);
    store.setValue(kPathKey, QByteArray::fromStdString(path));
  }
  store.endArray();
}

QString KeptExtensionText() {
  return Store().value(kExtensionsKey, QString::fromUtf8(kDefaultExtensionList)).toString();
}

void KeepExtensionText(const QString& text) { Store().setValue(kExtensionsKey, text); }

QString KeptLogFormatText() {
  return Store().value(kLogFormatKey, QStringLiteral("combined")).toString();
}

void KeepLogFormatText(const QString& text) { Store().setValue(kLogFormatKey, text); }

CrawlerMode KeptCrawlerMode() {
  const QString kept = Store().value(kCrawlersKey).toString();
  return kept == QLatin1String(CrawlerModeKey(CrawlerMode::kAll).data(),
                               static_cast<qsizetype>(CrawlerModeKey(CrawlerMode::kAll).size()))
             ? CrawlerMode::kAll
             : CrawlerMode::kDescribed;
}

void KeepCrawlerMode(CrawlerMode mode) {
  const std::string_view key = CrawlerModeKey(mode);
  Store().setValue(kCrawlersKey, QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size())));
}

std::string KeptCountryDatabase() {
  return Store().value(kCountryDatabaseKey).toByteArray().toStdString();
}

void KeepCountryDatabase(const std::string& path) {
  Store().setValue(kCountryDatabaseKey, QByteArray::fromStdString(path));
}

QString KeptExclusionText() { return Store().value(kExclusionKey).toString(); }

void KeepExclusionText(const QString& text) { Store().setValue(kExclusionKey, text); }

std::optional<QSize> KeptWindowSize() {
  const QSize size = Store().value(kSizeKey).toSize();
  if (!size.isValid() || size.isEmpty()) return std::nullopt;
  return size;
}

void KeepWindowSize(const QSize& size) { Store().setValue(kSizeKey, size); }

int KeptScreen() {
  bool ok = false;
  const int index = Store().value(kScreenKey).toInt(&ok);
  return ok ? index : -1;
}

void KeepScreen(int index) { Store().setValue(kScreenKey, index); }

}  // namespace hitsieve
