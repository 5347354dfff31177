#include "ui/ui_seams.h"

#include <deque>
#include <utility>

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>

namespace hitsieve {

namespace {

UiSeams RealSeams() {
  UiSeams seams;
  // The same plain box for news and for errors, so it carries no icon that would call a
  // database error "information" or a finished run a warning.
  seams.show_message = [](QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Hitsieve"), text, QMessageBox::Ok,
                    parent);
    // File names and format texts in a message are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
  };
  seams.ask_yes_no = [](QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Hitsieve"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  };
  seams.choose_files = [](QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileNames(parent, QString(), QString(), filter);
  };
  seams.exec_dialog = [](QDialog& dialog) { return dialog.exec(); };
  seams.open_file = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };
  return seams;
}

}  // namespace

UiSeams& Seams() {
  static UiSeams seams = RealSeams();
  return seams;
}

void ResetSeams() { Seams() = RealSeams(); }

namespace {

// Whether a box of ours is open, and the messages that wait for it to close.
struct MessageQueue {
  bool open = false;
  std::deque<std::pair<QPointer<QWidget>, QString>> waiting;
};

MessageQueue& Messages() {
  static MessageQueue queue;
  return queue;
}

// Shows the waiting messages one after another, each once the one before has been closed.
void ShowWaitingMessages(MessageQueue& queue) {
  queue.open = true;
  struct Closer {
    MessageQueue& queue;
    ~Closer() { queue.open = false; }
  } closer{queue};
  while (!queue.waiting.empty()) {
    auto [owner, message] = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    Seams().show_message(owner.data(), message);
  }
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
  MessageQueue& queue = Messages();
  queue.waiting.emplace_back(parent, text);
  if (!queue.open) ShowWaitingMessages(queue);
}

bool AskYesNo(QWidget* parent, const QString& text) {
  MessageQueue& queue = Messages();
  // A question follows a click of the user, so normally no box of ours is open; should one be,
  // the safe answer is given instead of a second box over it.
  if (queue.open) return false;
  queue.open = true;
  bool yes = false;
  try {
    yes = Seams().ask_yes_no(parent, text);
  } catch (...) {
    queue.open = false;
    throw;
  }
  queue.open = false;
  if (!queue.waiting.empty()) ShowWaitingMessages(queue);
  return yes;
}

}  // namespace hitsieve
