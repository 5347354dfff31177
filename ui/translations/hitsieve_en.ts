<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>hitsieve::AboutDlg</name>
    <message>
        <source>Статистика посещений по журналам сервера</source>
        <translation>Visit statistics from server logs</translation>
    </message>
    <message>
        <source>Запросы, страницы, рефереры, роботы</source>
        <translation>Phrases, pages, referers, robots</translation>
    </message>
    <message>
        <source>Свободная программа для владельцев сайтов</source>
        <translation>Free software for site owners</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Hitsieve Версия 1.0</source>
        <translation>Hitsieve version 1.0</translation>
    </message>
    <message>
        <source>Файл статистики (будет создан первым анализом):</source>
        <translation>Statistics file (made by the first analysis):</translation>
    </message>
    <message>
        <source>Файл статистики:</source>
        <translation>Statistics file:</translation>
    </message>
</context>
<context>
    <name>hitsieve::AnalysePropDlg</name>
    <message>
        <source>Анализировать только эти файлы</source>
        <translation>Analyse only these files</translation>
    </message>
    <message>
        <source>Анализ</source>
        <translation>Analyse</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Период с</source>
        <translation>Period from</translation>
    </message>
    <message>
        <source>ГГГГ-ММ-ДД</source>
        <translation>YYYY-MM-DD</translation>
    </message>
    <message>
        <source>по</source>
        <translation>to</translation>
    </message>
    <message>
        <source>Дата периода пишется как ГГГГ-ММ-ДД: </source>
        <translation>A period date is written as YYYY-MM-DD: </translation>
    </message>
    <message>
        <source>Начало периода позже его конца</source>
        <translation>The period starts after it ends</translation>
    </message>
    <message>
        <source>Формат журнала</source>
        <translation>Log format</translation>
    </message>
    <message>
        <source>combined (по умолчанию), common, vhost_combined, w3c, caddy, auto (формат каждого файла узнаётся по его первым строкам) или строка формата из настроек сервера: LogFormat Apache (%h %t &quot;%r&quot; %&gt;s ...) или log_format nginx ($remote_addr [$time_local] &quot;$request&quot; $status ...)</source>
        <translation>combined (the default), common, vhost_combined, w3c, caddy, auto (each file&apos;s format recognised from its first lines) or the format string of the server&apos;s configuration: an Apache LogFormat (%h %t &quot;%r&quot; %&gt;s ...) or an nginx log_format ($remote_addr [$time_local] &quot;$request&quot; $status ...)</translation>
    </message>
    <message>
        <source>Формат журнала не понят: </source>
        <translation>Log format not understood: </translation>
    </message>
    <message>
        <source>Не учитывать запросы всех известных роботов</source>
        <translation>Leave out the requests of every known crawler</translation>
    </message>
    <message>
        <source>Без отметки статистика не учитывает только роботов описанных поисковых систем; с отметкой также всех других известных роботов, программы чтения лент, мониторинг и скрипты. Добавлять можно только с тем же выбором, с каким посчитана статистика.</source>
        <translation>Unchecked, the statistics leave out only the robots of the described search engines; checked, also every other known crawler, feed reader, monitor and script. An add must make the same choice as the statistics were counted with.</translation>
    </message>
    <message>
        <source>База стран</source>
        <translation>Country database</translation>
    </message>
    <message>
        <source>встроенная</source>
        <translation>built-in</translation>
    </message>
    <message>
        <source>Файл базы стран в формате MaxMind DB, например GeoLite2-Country.mmdb; пустое поле — база, которая входит в программу. Добавлять можно только с той же базой, с какой посчитана статистика.</source>
        <translation>A country database file in the MaxMind DB format, such as GeoLite2-Country.mmdb; empty: the database that comes with the program. Statistics can only be added to with the database they were counted with.</translation>
    </message>
    <message>
        <source>Выбрать файл базы стран</source>
        <translation>Choose the country database file</translation>
    </message>
    <message>
        <source>База стран не подходит: </source>
        <translation>Country database cannot be used: </translation>
    </message>
    <message>
        <source>Базы стран (*.mmdb);;Все файлы (*)</source>
        <translation>Country databases (*.mmdb);;All files (*)</translation>
    </message>
</context>
<context>
    <name>hitsieve::CommonStatDlg</name>
    <message>
        <source>Нет программы, которая открыла бы страницу </source>
        <translation>No program could open the page </translation>
    </message>
    <message>
        <source>Первый день:</source>
        <translation>First day:</translation>
    </message>
    <message>
        <source>Последний день:</source>
        <translation>Last day:</translation>
    </message>
    <message>
        <source>Дней:</source>
        <translation>Days:</translation>
    </message>
    <message>
        <source>Просмотры:</source>
        <translation>Views:</translation>
    </message>
    <message>
        <source>Посетители (сумма дней):</source>
        <translation>Visitors (sum of days):</translation>
    </message>
    <message>
        <source>Разных адресов:</source>
        <translation>Distinct addresses:</translation>
    </message>
    <message>
        <source>Трафик:</source>
        <translation>Traffic:</translation>
    </message>
    <message>
        <source>Запросов не найдено (404, 410):</source>
        <translation>Requests not found (404, 410):</translation>
    </message>
    <message>
        <source>Доля запросов роботов:</source>
        <translation>Share of robot requests:</translation>
    </message>
    <message>
        <source>%1 МБ</source>
        <translation>%1 MB</translation>
    </message>
</context>
<context>
    <name>hitsieve::DailyChart</name>
    <message>
        <source>Не показано дней с нераспознанной датой: %1</source>
        <translation>Days not shown because their date is not recognised: %1</translation>
    </message>
    <message>
        <source>Не показано дней дальше года от остальных: %1</source>
        <translation>Days more than a year away from the rest, not shown: %1</translation>
    </message>
</context>
<context>
    <name>hitsieve::DimensionScreen</name>
    <message>
        <source>Запросы людей по кодам ответа</source>
        <translation>Requests of people by status code</translation>
    </message>
    <message>
        <source>Страницы, которых нет (404 и 410), и откуда на них пришли</source>
        <translation>Pages not found (404 and 410) and where people came from</translation>
    </message>
    <message>
        <source>Просмотры и посетители по часам</source>
        <translation>Views and visitors by hour</translation>
    </message>
    <message>
        <source>Браузеры</source>
        <translation>Browsers</translation>
    </message>
    <message>
        <source>Системы</source>
        <translation>Operating systems</translation>
    </message>
    <message>
        <source>Страны посетителей</source>
        <translation>Visitors&apos; countries</translation>
    </message>
    <message>
        <source>Роботы и их запросы</source>
        <translation>Robots and their requests</translation>
    </message>
    <message>
        <source>Переходы из поисковых систем</source>
        <translation>Arrivals from search engines</translation>
    </message>
    <message>
        <source>Не подсчитано в этой базе статистики. Подсчитает анализ, который заменяет статистику (без «Добавить к сохранённой статистике»).</source>
        <translation>Not counted in this statistics database. An analysis that replaces the statistics (without “Add to the saved statistics”) counts it.</translation>
    </message>
    <message>
        <source>Все</source>
        <translation>All</translation>
    </message>
    <message>
        <source>Запросы робота %1 по дням</source>
        <translation>Requests of %1 by day</translation>
    </message>
    <message>
        <source>Выберите робота в списке: здесь будут его запросы по дням</source>
        <translation>Choose a robot in the list to see its requests by day here</translation>
    </message>
    <message>
        <source>%1 по дням</source>
        <translation>%1 by day</translation>
    </message>
    <message>
        <source>Выберите строку списка: здесь будут её дни</source>
        <translation>Choose a row of the list to see its days here</translation>
    </message>
    <message>
        <source>поисковая система</source>
        <translation>search engine</translation>
    </message>
    <message>
        <source>ИИ</source>
        <translation>AI</translation>
    </message>
    <message>
        <source>SEO-инструмент</source>
        <translation>SEO tool</translation>
    </message>
    <message>
        <source>чтение лент</source>
        <translation>feed reader</translation>
    </message>
    <message>
        <source>мониторинг</source>
        <translation>monitoring</translation>
    </message>
    <message>
        <source>архив</source>
        <translation>archive</translation>
    </message>
    <message>
        <source>программа или скрипт</source>
        <translation>tool or script</translation>
    </message>
    <message>
        <source>прочее</source>
        <translation>other</translation>
    </message>
</context>
<context>
    <name>hitsieve::ListColumns</name>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Путь</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Хосты</source>
        <translation>Hosts</translation>
    </message>
    <message>
        <source>Посетители</source>
        <translation>Visitors</translation>
    </message>
    <message>
        <source>Просмотры</source>
        <translation>Views</translation>
    </message>
    <message>
        <source>Страница</source>
        <translation>Page</translation>
    </message>
    <message>
        <source>Посещений</source>
        <translation>Visits</translation>
    </message>
    <message>
        <source>Траффик(Mb)</source>
        <translation>Traffic (MB)</translation>
    </message>
    <message>
        <source>Апорт</source>
        <translation>Aport</translation>
    </message>
    <message>
        <source>Запрос</source>
        <translation>Query</translation>
    </message>
    <message>
        <source>Всего</source>
        <translation>Total</translation>
    </message>
    <message>
        <source>Домены</source>
        <translation>Domains</translation>
    </message>
    <message>
        <source>Кол-во</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>Паук</source>
        <translation>Robot</translation>
    </message>
    <message>
        <source>Код</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>Запросы</source>
        <translation>Requests</translation>
    </message>
    <message>
        <source>Код ответа</source>
        <translation>Status code</translation>
    </message>
    <message>
        <source>Чаще всего приходили с</source>
        <translation>Most often came from</translation>
    </message>
    <message>
        <source>Час</source>
        <translation>Hour</translation>
    </message>
    <message>
        <source>Браузер</source>
        <translation>Browser</translation>
    </message>
    <message>
        <source>Система</source>
        <translation>System</translation>
    </message>
    <message>
        <source>Название</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Версия</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Устройство</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Код страны</source>
        <translation>Country code</translation>
    </message>
    <message>
        <source>Страна</source>
        <translation>Country</translation>
    </message>
    <message>
        <source>Робот</source>
        <translation>Robot</translation>
    </message>
    <message>
        <source>Категория</source>
        <translation>Category</translation>
    </message>
    <message>
        <source>Подпись в агенте</source>
        <translation>Token in the agent</translation>
    </message>
    <message>
        <source>Страницы</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>Дней</source>
        <translation>Days</translation>
    </message>
    <message>
        <source>Первый день</source>
        <translation>First day</translation>
    </message>
    <message>
        <source>Последний день</source>
        <translation>Last day</translation>
    </message>
    <message>
        <source>Трафик, байт</source>
        <translation>Traffic, bytes</translation>
    </message>
    <message>
        <source>Поисковая система</source>
        <translation>Search engine</translation>
    </message>
    <message>
        <source>Переходы</source>
        <translation>Arrivals</translation>
    </message>
    <message>
        <source>Доля, %</source>
        <translation>Share, %</translation>
    </message>
    <message>
        <source>День</source>
        <translation>Day</translation>
    </message>
</context>
<context>
    <name>hitsieve::ListModel</name>
    <message>
        <source>Итого (отобрано)</source>
        <translation>Total (filtered)</translation>
    </message>
</context>
<context>
    <name>hitsieve::MainDlg</name>
    <message>
        <source>Настройки</source>
        <translation>Log files</translation>
    </message>
    <message>
        <source>Общая статистика</source>
        <translation>Overview</translation>
    </message>
    <message>
        <source>Обращения к страницам</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>Рефереры</source>
        <translation>Referers</translation>
    </message>
    <message>
        <source>Поисковые запросы</source>
        <translation>Search phrases</translation>
    </message>
    <message>
        <source>Поисковики</source>
        <translation>Search robots</translation>
    </message>
    <message>
        <source>О Программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Идёт анализ. Окно можно закрыть после его окончания.</source>
        <translation>An analysis is under way. The window can be closed once it has finished.</translation>
    </message>
    <message>
        <source>Коды ответа</source>
        <translation>Status codes</translation>
    </message>
    <message>
        <source>Время суток</source>
        <translation>Time of day</translation>
    </message>
    <message>
        <source>Браузеры и системы</source>
        <translation>Browsers and systems</translation>
    </message>
    <message>
        <source>Страны</source>
        <translation>Countries</translation>
    </message>
    <message>
        <source>Все роботы</source>
        <translation>All robots</translation>
    </message>
    <message>
        <source>Поисковые системы</source>
        <translation>Search engines</translation>
    </message>
</context>
<context>
    <name>hitsieve::RefererTab</name>
    <message>
        <source>Исключить рефереры с указанного домена</source>
        <translation>Exclude referers from this domain</translation>
    </message>
    <message>
        <source>Применить</source>
        <translation>Apply</translation>
    </message>
</context>
<context>
    <name>hitsieve::ReportScreen</name>
    <message>
        <source>Поиск</source>
        <translation>Search</translation>
    </message>
</context>
<context>
    <name>hitsieve::RobotsTab</name>
    <message>
        <source>Все</source>
        <translation>All</translation>
    </message>
</context>
<context>
    <name>hitsieve::SettingsTab</name>
    <message>
        <source>Список файлов пуст. Анализ заменит сохранённую статистику пустой. Продолжить?</source>
        <translation>The file list is empty. The analysis will replace the stored statistics with empty ones. Continue?</translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Удалить</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Анализ</source>
        <translation>Analyse</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Анализ...</source>
        <translation>Analysing...</translation>
    </message>
    <message>
        <source>Сохранение...</source>
        <translation>Saving...</translation>
    </message>
    <message>
        <source>Остановлено</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>Обновление...</source>
        <translation>Updating...</translation>
    </message>
    <message>
        <source>Готово</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>Анализ завершен!</source>
        <translation>Analysis finished!</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Анализ не выполнен: </source>
        <translation>Analysis failed: </translation>
    </message>
    <message>
        <source>Остановка...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>Добавить к сохранённой статистике</source>
        <translation>Add to the stored statistics</translation>
    </message>
    <message>
        <source> Пропущено уже проанализированных файлов: </source>
        <translation> Files skipped as already analysed: </translation>
    </message>
    <message>
        <source>Не распознано: %1</source>
        <translation>Not recognised: %1</translation>
    </message>
    <message>
        <source>%1 строк не распознано</source>
        <translation>%1 lines not recognised</translation>
    </message>
    <message>
        <source>Формат журналов: %1</source>
        <translation>Log format: %1</translation>
    </message>
    <message>
        <source>... и ещё файлов: %1</source>
        <translation>... and %1 more files</translation>
    </message>
    <message>
        <source>%1: combined (ни один известный формат не подходит к его первым строкам)</source>
        <translation>%1: combined (no known format fits its first lines)</translation>
    </message>
    <message>
        <source>%1: не распознано %2 из %3 строк; выберите формат журнала auto (%4)</source>
        <translation>%1: %2 of %3 lines not recognised; choose the log format auto (%4)</translation>
    </message>
    <message>
        <source>ни один известный формат не подходит</source>
        <translation>no known format fits</translation>
    </message>
    <message>
        <source>файл читается как %1</source>
        <translation>it reads as %1</translation>
    </message>
    <message>
        <source>Форматы журналов:</source>
        <translation>Log formats:</translation>
    </message>
</context>
</TS>
