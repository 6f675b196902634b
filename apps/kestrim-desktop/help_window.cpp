#include "help_window.h"
#include "qt_text.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariant>

#include <cctype>

#include "command_table.h"
#include "platform/files.h"

namespace kestrim::desktop {

namespace {


bool same_text(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

void set_help_section(QWidget* window, const std::string& section) {
  window->setProperty(kHelpSectionProperty, qs(section));
}

std::string help_section_of(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    const QVariant v = w->property(kHelpSectionProperty);
    if (v.isValid() && !v.toString().isEmpty()) return v.toString().toStdString();
    if (w->isWindow()) break;
  }
  return {};
}

std::string command_help_section(int id) {
  switch (id) {
    case 230: case 273: case 274: case 100: return "";
    case 248: return "Library editor";
    case 181: case 262: return "Setting up";
    case 134: case 1423: case 321: case 322: case 323: case 318: case 319: return "Acquiring spectra";
    case 252: return "Automatic energy re-calibration";
    case 239: return "Quantitative auto-calibration";
    case 245: return "Energy calibration";
    case 249: return "Peak shape calibration";
    case 250: return "Efficiency calibration";
    case 213: case 288: case 2001: case 289: case 226: case 310: return "Reports and exporting";
    default: break;
  }
  const DesktopCommand* c = find_command(id);
  if (!c) return "";
  switch (c->menu) {
    case kMenuAnalysis: case kMenuFitting: return "Analysing a spectrum";
    case kMenuCalibration: return "Calibrating a detector";
    case kMenuReports: return "Reports and exporting";
    case kMenuSetup: return "Setting up";
    default: return "The main window";
  }
}

std::string user_guide_path(const std::string& program_dir) {
  return join_path(join_path(program_dir, "Help"), "user-guide.md");
}

std::string heading_anchor(const std::string& heading) {
  std::string out;
  for (char c : heading) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) out += static_cast<char>(std::tolower(u));
    else if (c == ' ' || c == '-') out += '-';
    else if (c == '_') out += '_';
  }
  return out;
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
  setModal(false);
  setWindowTitle("Kestrim Help");
  set_help_section(this, "Contents");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  auto* contents = new QPushButton("Contents", this);
  search_ = new QLineEdit(this);
  search_->setPlaceholderText("Search the guide");
  auto* next = new QPushButton("Find", this);
  row->addWidget(contents);
  row->addWidget(new QLabel("Search:", this));
  row->addWidget(search_, 1);
  row->addWidget(next);
  layout->addLayout(row);
  browser_ = new QTextBrowser(this);
  // Links are followed here: the guide's own anchors name its headings.
  browser_->setOpenLinks(false);
  layout->addWidget(browser_, 1);
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { link(url); });
  connect(contents, &QPushButton::clicked, this, [this] { show_section("Contents"); });
  auto search = [this] { find(search_->text().toStdString()); };
  connect(next, &QPushButton::clicked, this, search);
  connect(search_, &QLineEdit::returnPressed, this, search);
  resize(860, 720);
}

bool HelpWindow::load(const std::string& path) {
  if (!file_exists(path)) {
    browser_->setPlainText(qs("The user guide was not found:\n" + path));
    path_.clear();
    return false;
  }
  if (path_ != path) {
    browser_->setSource(QUrl::fromLocalFile(qs(path)), QTextDocument::MarkdownResource);
    path_ = path;
  }
  return true;
}

bool HelpWindow::show_section(const std::string& section) {
  const std::string anchor = heading_anchor(section);
  QTextDocument* doc = browser_->document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    if (b.blockFormat().headingLevel() == 0) continue;
    const std::string text = b.text().trimmed().toStdString();
    if (!same_text(text, section) && heading_anchor(text) != anchor) continue;
    // From the end back to the heading, so that the heading comes to the
    // top of the view.
    browser_->moveCursor(QTextCursor::End);
    browser_->ensureCursorVisible();
    browser_->setTextCursor(QTextCursor(b));
    browser_->ensureCursorVisible();
    return true;
  }
  browser_->verticalScrollBar()->setValue(0);
  return false;
}

bool HelpWindow::find(const std::string& text) {
  if (text.empty()) return false;
  if (browser_->find(qs(text))) return true;
  // From the start again.
  browser_->moveCursor(QTextCursor::Start);
  return browser_->find(qs(text));
}

void HelpWindow::link(const QUrl& url) {
  if (url.hasFragment() && (url.path().isEmpty() || url.isRelative() || url.isLocalFile())) {
    const std::string target = url.fragment().toStdString();
    if (url.path().isEmpty() || QFileInfo(url.path()).fileName() == QFileInfo(qs(path_)).fileName()) {
      show_section(target);
      return;
    }
  }
  QDesktopServices::openUrl(url.isRelative() ? browser_->source().resolved(url) : url);
}

}  // namespace kestrim::desktop
