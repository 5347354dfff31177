#ifndef HITSIEVE_UI_UI_SEAMS_H_
#define HITSIEVE_UI_UI_SEAMS_H_

#include <functional>

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// The few places where the program waits for the user outside its own windows: message boxes,
// the file dialog, modal dialogs of its own and handing a workbook to the desktop. Each goes
// through a replaceable hook so that tests drive them without a modal window blocking.
// UI thread only.
namespace hitsieve {

struct UiSeams {
  // One modal message box with an OK button.
  std::function<void(QWidget* parent, const QString& text)> show_message;
  // A modal question with "Yes" and "No", "No" preselected; true only for "Yes".
  std::function<bool(QWidget* parent, const QString& text)> ask_yes_no;
  // The multi-select file-open dialog; returns the chosen paths, empty when cancelled.
  std::function<QStringList(QWidget* parent, const QString& filter)> choose_files;
  // Runs a dialog of our own modally; returns its result code (QDialog::Accepted or Rejected).
  std::function<int(QDialog& dialog)> exec_dialog;
  // Opens a local file with the desktop's default application.
  std::function<bool(const QString& path)> open_file;
};

// The process-wide hooks, initialised with the real windows.
UiSeams& Seams();

// Restores the real windows (tests call it between cases).
void ResetSeams();

// Shows `text` in a message box. Boxes never open over one another: a message that arrives
// while a box is open (from a timer or a run, in the box's own event loop) waits and opens
// when that box has been closed.
void ShowMessage(QWidget* parent, const QString& text);

// Asks a yes-or-no question; the answer is no unless the user chooses "Yes".
bool AskYesNo(QWidget* parent, const QString& text);

}  // namespace hitsieve

#endif  // HITSIEVE_UI_UI_SEAMS_H_
