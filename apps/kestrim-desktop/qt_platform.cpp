#include "qt_platform.h"
#include "qt_text.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>

#include "platform/files.h"

namespace kestrim::desktop {

namespace {


// Escape answers Cancel in every box, also in one without a Cancel button.
class EscapeAnswersCancel : public QObject {
 public:
  bool escaped = false;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      escaped = true;
      static_cast<QMessageBox*>(watched)->done(-1);
      return true;
    }
    return false;
  }
};

// Shows the arrow while a box or dialog waits for the user, the busy
// pointer again afterwards.
struct ArrowWhileAsking {
  ArrowWhileAsking() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
  ~ArrowWhileAsking() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

void QtPlatform::note(const std::string& line) {
  if (!transcript_) return;
  std::fputs(line.c_str(), transcript_);
  std::fputc('\n', transcript_);
  std::fflush(transcript_);
}

int QtPlatform::message_box(std::string_view text, std::string_view caption, int style,
                            int default_answer) {
  const std::string shown_caption(effective_caption(caption));
  const int preselected = default_answer_for(style, default_answer);
  if (scripted()) {
    int answer = preselected;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    note("message\t" + std::to_string(style) + "\t" + std::to_string(answer) + "\t" + shown_caption +
         "\t" + std::string(text));
    return answer;
  }

  QMessageBox box(owner_);
  box.setWindowTitle(qs(shown_caption));
  box.setText(qs(text));
  struct Button {
    QMessageBox::StandardButton button;
    int answer;
  };
  std::vector<Button> buttons;
  switch (style & 0x0f) {
    case kMsgOkCancel:
      buttons = {{QMessageBox::Ok, kAnswerOk}, {QMessageBox::Cancel, kAnswerCancel}};
      break;
    case kMsgYesNoCancel:
      buttons = {{QMessageBox::Yes, kAnswerYes}, {QMessageBox::No, kAnswerNo},
                 {QMessageBox::Cancel, kAnswerCancel}};
      break;
    case kMsgYesNo:
      buttons = {{QMessageBox::Yes, kAnswerYes}, {QMessageBox::No, kAnswerNo}};
      break;
    default:
      buttons = {{QMessageBox::Ok, kAnswerOk}};
      break;
  }
  switch (style) {
    case kMsgError: box.setIcon(QMessageBox::Critical); break;
    case kMsgWarning: box.setIcon(QMessageBox::Warning); break;
    case kMsgYesNo:
    case kMsgYesNoCancel: box.setIcon(QMessageBox::Question); break;
    default: box.setIcon(QMessageBox::Information); break;
  }
  QAbstractButton* focus = nullptr;
  for (const Button& b : buttons) {
    box.addButton(b.button);
    if (b.answer == preselected) focus = box.button(b.button);
  }
  if (!focus) focus = box.button(buttons.front().button);
  box.setDefaultButton(static_cast<QPushButton*>(focus));
  EscapeAnswersCancel escape;
  box.installEventFilter(&escape);
  // Centred on the screen.
  box.adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    box.move(area.center() - box.rect().center());
  }
  if (move_cursor_on()) {
    QTimer::singleShot(0, &box, [focus] { QCursor::setPos(focus->mapToGlobal(focus->rect().center())); });
  }
  ArrowWhileAsking arrow;
  box.exec();
  if (escape.escaped) return kAnswerCancel;
  const QAbstractButton* clicked = box.clickedButton();
  for (const Button& b : buttons)
    if (clicked == box.button(b.button)) return b.answer;
  return kAnswerCancel;
}

int QtPlatform::press_in_real_box(int style, int default_answer, int key) {
  std::FILE* transcript = transcript_;
  transcript_ = nullptr;
  QTimer::singleShot(100, [key] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
      QApplication::sendEvent(box->focusWidget() ? box->focusWidget() : box, &press);
      QApplication::sendEvent(box->focusWidget() ? box->focusWidget() : box, &release);
    }
  });
  const int answer = message_box("A question", "A caption", style, default_answer);
  transcript_ = transcript;
  return answer;
}

void QtPlatform::set_status(std::string_view text) {
  if (scripted()) note("status\t" + std::string(text));
  if (owner_ && status_bar_on()) owner_->statusBar()->showMessage(qs(text));
}

bool QtPlatform::abort_requested() {
  // Let the window repaint and take the Abort command between steps.
  QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (abort_countdown_ >= 0 && abort_countdown_-- == 0) {
    abort_ = true;
    note("abort");
  }
  return abort_;
}

bool QtPlatform::file_dialog(FileDialog& dialog, bool save) {
  dialog.paths.clear();
  if (scripted()) {
    std::string path;
    if (!file_answers.empty()) {
      path = file_answers.front();
      file_answers.pop_front();
    }
    note(std::string("dialog\t") + (save ? "save" : "open") + "\t" + dialog.title + "\t" + path);
    if (path.empty()) return false;
    dialog.paths.push_back(path);
    dialog.directory = dir_name(path);
    return true;
  }
  QStringList filters;
  for (const FileFilter& f : dialog.filters) {
    QString name = qs(f.name);
    if (name.indexOf('(') < 0) name += " (" + qs(f.pattern).replace(';', ' ') + ")";
    filters << name;
  }
  filters << "All files (*)";
  QFileDialog box(owner_, qs(dialog.title), qs(dialog.initial_directory));
  box.setNameFilters(filters);
  if (dialog.filter_index >= 0 && dialog.filter_index < filters.size())
    box.selectNameFilter(filters[dialog.filter_index]);
  if (!dialog.initial_name.empty()) box.selectFile(qs(dialog.initial_name));
  box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  box.setFileMode(save ? QFileDialog::AnyFile
                       : (dialog.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile));
  ArrowWhileAsking arrow;
  if (box.exec() != QDialog::Accepted) return false;
  for (const QString& f : box.selectedFiles()) dialog.paths.push_back(f.toStdString());
  if (dialog.paths.empty()) return false;
  dialog.directory = box.directory().absolutePath().toStdString();
  return true;
}

bool QtPlatform::open_file_dialog(FileDialog& dialog) { return file_dialog(dialog, false); }
bool QtPlatform::save_file_dialog(FileDialog& dialog) { return file_dialog(dialog, true); }

bool QtPlatform::ask_text(std::string_view prompt, std::string_view caption, bool secret,
                          std::string& answer) {
  if (scripted()) {
    note("ask\t" + std::string(caption) + "\t" + std::string(prompt));
    if (text_answers.empty()) return false;
    answer = text_answers.front();
    text_answers.pop_front();
    return true;
  }
  bool ok = false;
  ArrowWhileAsking arrow;
  QString text = QInputDialog::getText(owner_, qs(caption), qs(prompt),
                                       secret ? QLineEdit::Password : QLineEdit::Normal,
                                       qs(answer), &ok);
  if (!ok) return false;
  answer = text.toStdString();
  return true;
}

void QtPlatform::wait_ms(int milliseconds) {
  if (scripted() || milliseconds <= 0) return;
  // Stays responsive during the pause (and an Abort ends it).
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!abort_ && std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void QtPlatform::set_window_title(std::string_view title) {
  if (on_title) on_title(std::string(title));
}

void QtPlatform::set_command_checked(std::string_view command, bool checked) {
  if (on_checked) on_checked(std::string(command), checked);
}

void QtPlatform::calibration_changed() {
  if (on_calibration) on_calibration();
}

int QtReportPrinter::print_text_file(const std::string& path, Platform& ui) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(resolve_path(path), bytes, 64u << 20)) {
    ui.message_box("Could not open:- " + path, {}, kMsgWarning);
    return 0;
  }
  if (QPrinterInfo::availablePrinters().isEmpty()) {
    ui.message_box("No printer is installed", {}, kMsgWarning);
    return 0;
  }
  QPrinter printer(QPrinter::HighResolution);
  if (ask()) {
    QPrintDialog dialog(&printer, owner);
    if (dialog.exec() != QDialog::Accepted) return 0;
  }
  QTextDocument document;
  document.setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  document.setPlainText(QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<qsizetype>(bytes.size())));
  document.print(&printer);
  return 1;
}

}  // namespace kestrim::desktop
