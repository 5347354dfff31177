#ifndef HITSIEVE_UI_MAIN_APP_H_
#define HITSIEVE_UI_MAIN_APP_H_

#include <QApplication>

namespace hitsieve {

// The application: shows the main window and ends when it closes. The statistics database is
// the file named by --db, else by HITSIEVE_DB, else the default rule (DefaultDatabaseFile).
//
// Test and screenshot hooks, read from the environment once at start-up:
//   HITSIEVE_SCREEN=<0..5>     show that screen first (and select it in the list)
//   HITSIEVE_LOGS=<a:b:...>    put these log files into the list
//   HITSIEVE_AUTORUN=1         start an analysis at once with the default extensions
//   HITSIEVE_DIALOG=about      open the About box at start ("extensions": the dialog that
//                              "Анализ" opens)
class MainApp : public QApplication {
  Q_OBJECT

 public:
  MainApp(int& argc, char** argv);
  // Returns the exit status: 2 for a command line it cannot obey, 0 once the window closes.
  int Run();
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_MAIN_APP_H_
