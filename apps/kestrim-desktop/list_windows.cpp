#include "list_windows.h"
#include "qt_text.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/settings_bridge.h"
#include "app/spectrum_file.h"
#include "app/open_spectrum.h"
#include "app/state.h"
#include "nuclides/background_file.h"
#include "platform/binio.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/text_encoding.h"
#include "help_window.h"
#include "qt_platform.h"
#include "reference/reference_file.h"
#include "settings/defaults_file.h"
#include "spectrum/calibration_record.h"
#include "spectrum/formats.h"

namespace kestrim::desktop {

namespace {


std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size()) break;
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end;
  }
  return out;
}

// The first word and the rest of `text`.
std::pair<std::string, std::string> first_word(const std::string& text) {
  const std::string t = trim(text);
  const size_t sp = t.find(' ');
  if (sp == std::string::npos) return {t, {}};
  return {t.substr(0, sp), trim(t.substr(sp + 1))};
}

// A whole number or real written in `text` (C locale); false when the text
// is not one number.
bool read_number(const std::string& text, double& value) {
  const std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  value = c_strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && std::isfinite(value);
}

void put_text(std::uint8_t* at, size_t size, const std::string& text) {
  std::memset(at, 0, size);
  std::memcpy(at, text.data(), std::min(text.size(), size));
}

// The checks of a geometry's description fields; the value is stored in
// `d` when it passes, else the message is shown.
bool set_description_field(Platform& ui, GeometryDescription& d, const std::string& field, const std::string& value) {
  if (field == "description") {
    if (utf8_to_windows1252(value).size() > 39) {
      ui.message_box("The Geometry description should be less than 40 characters", {}, kMsgWarning);
      return false;
    }
    d.description = utf8_to_windows1252(value);
    return true;
  }
  if (field == "size") {
    double v = 0;
    if (!read_number(value, v) || v < 0) {
      ui.message_box("The Sample Size should be a number", {}, kMsgWarning);
      return false;
    }
    d.sample_size = static_cast<float>(v);
    return true;
  }
  if (field == "units") {
    if (value.size() > 4) {
      ui.message_box("The Units should have at most 4 characters", {}, kMsgWarning);
      return false;
    }
    d.units = value;
    return true;
  }
  if (field == "background") {
    // The background files' name rule; an empty name names none.
    std::string n = trim(value);
    if (!n.empty()) {
      if (n.find('.') == std::string::npos) n += ".bkg";
      if (n.size() > 12) {
        ui.message_box("The complete filename name should be 12 or less characters", "", kMsgOk);
        return false;
      }
      n = to_lower(n);
      if (n.find(".bkg") == std::string::npos) {
        ui.message_box("The filename extension:- BKG should be used", "", kMsgOk);
        return false;
      }
    }
    d.background = n;
    return true;
  }
  return false;
}

// Writes the description fields of `d` into its section of a detector
// file image.
void put_description(std::vector<std::uint8_t>& image, const GeometryDescription& d) {
  extend_to_geometry(image, d.geometry);
  std::uint8_t* s = image.data() + static_cast<size_t>(d.geometry - 1) * kDetectorSectionSize;
  put_text(s + cal_offset::kGeometryText, 40, d.description);
  s[cal_offset::kGeometryText + 39] = 0;
  bin::put_f32(s + cal_offset::kSampleSize, d.sample_size);
  put_text(s + cal_offset::kSampleUnits, 4, d.units);
  put_text(s + cal_offset::kBackgroundName, 12, d.background);
}

QTableWidgetItem* cell(const std::string& text, bool editable) {
  auto* it = new QTableWidgetItem(qs(text));
  if (!editable) it->setFlags(it->flags() & ~Qt::ItemIsEditable);
  return it;
}

}  // namespace

// ---- ListWindow -----------------------------------------------------------

ListWindow::ListWindow(State& state, QtPlatform& ui, QWidget* parent)
    : QDialog(parent), state_(state), ui_(ui) {
  setModal(false);
  set_help_section(this, "Lists and editors");
}

void ListWindow::closeEvent(QCloseEvent* event) {
  if (!finished_ && !close_window()) {
    event->ignore();
    return;
  }
  event->accept();
}

void ListWindow::reject() {
  if (!finished_) close_window();
}

int ListWindow::close_window() {
  finish();
  return 1;
}

void ListWindow::finish() {
  finished_ = true;
  hide();
}

void ListWindow::note(const std::string& line) {
  if (ui_.scripted()) ui_.note(line);
}

int ListWindow::screenshot(const std::string& path) {
  show();
  QCoreApplication::processEvents();
  const bool saved = grab().save(qs(path), "PNG");
  note("screenshot\t" + path + "\t" + (saved ? "saved" : "failed"));
  return saved ? 1 : 0;
}

QPushButton* ListWindow::button(const char* text, const char* action, QLayout* into) {
  auto* b = new QPushButton(text, this);
  const std::string a = action;
  connect(b, &QPushButton::clicked, this, [this, a] { act(a, {}); });
  into->addWidget(b);
  return b;
}

// ---- SpectrumList ---------------------------------------------------------

SpectrumList::SpectrumList(State& state, QtPlatform& ui, const std::string& folder, QWidget* parent)
    : ListWindow(state, ui, parent), folder_(folder) {
  setWindowTitle("Spectral data files");
  auto* outer = new QVBoxLayout(this);
  auto* top = new QHBoxLayout();
  top->addWidget(new QLabel("Folder", this));
  folder_edit_ = new QLineEdit(this);
  top->addWidget(folder_edit_, 1);
  connect(folder_edit_, &QLineEdit::returnPressed, this,
          [this] { act("folder", folder_edit_->text().toStdString()); });
  auto* browse = new QPushButton("Browse...", this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = QFileDialog::getExistingDirectory(this, "Folder of Spectral data files", qs(folder_));
    if (!dir.isEmpty()) act("folder", dir.toStdString());
  });
  top->addWidget(browse);
  outer->addLayout(top);
  table_ = new QTableWidget(0, 5, this);
  table_->setHorizontalHeaderLabels({"File", "Format", "Title", "Channels", "Live time (s)"});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { act("open", {}); });
  outer->addWidget(table_, 1);
  auto* prints = new QHBoxLayout();
  const char* labels[3] = {"Print Main Report", "Print Peak Fit Report", "Print Activity Report"};
  std::int32_t* options[3] = {&state_.params.batch_print_main, &state_.params.batch_print_peaks,
                              &state_.params.batch_print_activity};
  for (int i = 0; i < 3; ++i) {
    print_[i] = new QCheckBox(labels[i], this);
    print_[i]->setChecked(*options[i] != 0);
    std::int32_t* option = options[i];
    connect(print_[i], &QCheckBox::toggled, this, [option](bool on) { *option = on ? 1 : 0; });
    prints->addWidget(print_[i]);
  }
  prints->addStretch(1);
  outer->addLayout(prints);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_label_ = new QLabel(this);
  outer->addWidget(progress_label_);
  outer->addWidget(progress_);
  auto* buttons = new QHBoxLayout();
  buttons_.push_back(button("Open", "open", buttons));
  buttons_.push_back(button("Merge", "merge", buttons));
  buttons_.push_back(button("Analyse", "analyse", buttons));
  abort_ = button("Abort", "abort", buttons);
  abort_->setEnabled(false);
  buttons_.push_back(button("Close", "close", buttons));
  outer->addLayout(buttons);
  resize(760, 480);
  fill();
}

void SpectrumList::fill() {
  folder_edit_->setText(qs(folder_));
  spectra_ = list_spectrum_folder(state_, folder_);
  table_->setRowCount(static_cast<int>(spectra_.size()));
  for (int r = 0; r < static_cast<int>(spectra_.size()); ++r) {
    const ListedSpectrum& s = spectra_[static_cast<size_t>(r)];
    table_->setItem(r, 0, cell(s.name, false));
    table_->setItem(r, 1, cell(spectrum_type_name(s.type), false));
    table_->setItem(r, 2, cell(s.title, false));
    table_->setItem(r, 3, cell(std::to_string(s.channels), false));
    table_->setItem(r, 4, cell(c_format("%.1f", s.live_time), false));
  }
  table_->resizeColumnsToContents();
  progress_->setRange(0, std::max<int>(1, static_cast<int>(spectra_.size())));
  progress_->setValue(0);
  progress_label_->setText(qs(c_format("%d Spectral data files", static_cast<int>(spectra_.size()))));
}

std::vector<ListedSpectrum> SpectrumList::selection() const {
  std::vector<int> rows;
  for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  std::vector<ListedSpectrum> out;
  for (int r : rows)
    if (r >= 0 && r < static_cast<int>(spectra_.size())) out.push_back(spectra_[static_cast<size_t>(r)]);
  return out;
}

int SpectrumList::close_window() {
  if (running_) {
    ui_.request_abort();
    return 0;
  }
  return ListWindow::close_window();
}

void SpectrumList::set_running(bool running) {
  running_ = running;
  for (QPushButton* b : buttons_) b->setEnabled(!running);
  abort_->setEnabled(running);
  table_->setEnabled(!running);
  folder_edit_->setEnabled(!running);
}

int SpectrumList::act(const std::string& action, const std::string& argument) {
  if (action == "screenshot") return screenshot(argument);
  if (finished_) return 0;
  if (action == "close") return close_window();
  if (action == "abort") {
    ui_.request_abort();
    return 1;
  }
  if (action == "folder") {
    if (!directory_exists(argument)) {
      ui_.message_box("Could not open the folder:- " + argument, {}, kMsgWarning);
      return 0;
    }
    folder_ = argument;
    fill();
    return 1;
  }
  if (action == "select") {
    table_->clearSelection();
    if (argument == "all") {
      table_->selectAll();
      return 1;
    }
    table_->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const std::string& w : words_of(argument)) {
      double row = -1;
      if (!read_number(w, row) || row < 0 || row >= table_->rowCount()) continue;
      table_->selectRow(static_cast<int>(row));
    }
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return 1;
  }
  if (action == "lines") {
    for (const ListedSpectrum& s : spectra_)
      note(c_format("spectrum\t%s\t%s\t%s\t%d\t%.1f", s.name.c_str(), spectrum_type_name(s.type).c_str(),
                    s.title.c_str(), s.channels, s.live_time));
    return 1;
  }
  const std::vector<ListedSpectrum> chosen = selection();
  if (action == "open") {
    if (chosen.empty()) {
      ui_.message_box("No Spectrum is selected", {}, kMsgWarning);
      return 0;
    }
    if (!ready_to_replace()) return 0;
    const ListedSpectrum& s = chosen.front();
    state_.app.spectrum_type = s.type;
    set_spectrum_directory(state_, s.type, folder_);
    state_.app.current_file = s.name;
    const int ok = run_long([&] { return open_spectrum(state_, true); });
    on_changed();
    return ok;
  }
  if (action == "merge") {
    if (chosen.size() < 2) {
      ui_.message_box("Select two or more Spectra to merge", {}, kMsgWarning);
      return 0;
    }
    if (!ready_to_replace()) return 0;
    state_.app.sum_mode = true;
    const int ok = run_long([&] { return merge_listed_spectra(state_, folder_, chosen); });
    state_.app.sum_mode = false;
    on_changed();
    return ok;
  }
  if (action == "analyse") {
    if (chosen.empty()) {
      ui_.message_box("No Spectrum is selected", {}, kMsgWarning);
      return 0;
    }
    if (!ready_to_replace() || !confirm_unsaved_batch_results(state_)) return 0;
    const int total = static_cast<int>(chosen.size());
    progress_->setRange(0, total);
    set_running(true);
    const int analysed = run_long([&] {
      return analyse_listed_spectra(state_, folder_, chosen, [this](int i, int n, const std::string& name) {
        progress_->setValue(i);
        progress_label_->setText(name.empty() ? QString()
                                              : qs(c_format("Analysing %s (%d of %d)", name.c_str(), i + 1, n)));
        if (!name.empty()) note(c_format("progress\t%d\t%d\t%s", i + 1, n, name.c_str()));
        QCoreApplication::processEvents();
      });
    });
    set_running(false);
    const std::string done = c_format("%d of %d Spectra analysed", analysed, total);
    progress_label_->setText(qs(done));
    ui_.set_status(done);
    note(c_format("analysed\t%d\t%d", analysed, total));
    on_changed();
    return analysed == total ? 1 : 0;
  }
  return -1;
}

// ---- DefaultsList ---------------------------------------------------------

DefaultsList::DefaultsList(State& state, QtPlatform& ui, QWidget* parent) : ListWindow(state, ui, parent) {
  setWindowTitle("Defaults Files");
  auto* outer = new QVBoxLayout(this);
  current_ = new QLabel(this);
  outer->addWidget(current_);
  auto* lists = new QHBoxLayout();
  applications_ = new QListWidget(this);
  numbers_ = new QTableWidget(0, 3, this);
  numbers_->setHorizontalHeaderLabels({"Detector", "File", "Folder"});
  numbers_->setSelectionBehavior(QAbstractItemView::SelectRows);
  numbers_->setSelectionMode(QAbstractItemView::SingleSelection);
  numbers_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  numbers_->verticalHeader()->setVisible(false);
  numbers_->horizontalHeader()->setStretchLastSection(true);
  lists->addWidget(applications_, 1);
  lists->addWidget(numbers_, 2);
  outer->addLayout(lists, 1);
  connect(applications_, &QListWidget::currentTextChanged, this, [this](const QString& text) {
    if (filling_ || text.isEmpty()) return;
    application_ = text.toStdString();
    number_ = -1;
    fill_numbers();
  });
  connect(numbers_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (filling_ || row < 0) return;
    number_ = numbers_->item(row, 0)->data(Qt::UserRole).toInt();
  });
  connect(numbers_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { act("switch", {}); });
  auto* buttons = new QHBoxLayout();
  button("Switch", "switch", buttons);
  button("New...", "create", buttons);
  button("Delete", "delete", buttons);
  button("Close", "close", buttons);
  outer->addLayout(buttons);
  application_ = to_string(state_.params.application_name);
  number_ = state_.params.defaults_number;
  resize(560, 380);
  fill();
}

void DefaultsList::fill() {
  filling_ = true;
  files_ = list_defaults_files(state_);
  current_->setText(qs("In use: " + defaults_file_name(to_string(state_.params.application_name),
                                                        state_.params.defaults_number)));
  applications_->clear();
  std::vector<std::string> apps;
  for (const ListedDefaults& d : files_)
    if (std::none_of(apps.begin(), apps.end(), [&](const std::string& a) { return iequals(a, d.application); }))
      apps.push_back(d.application);
  for (const std::string& a : apps) {
    applications_->addItem(qs(a));
    if (iequals(a, application_)) applications_->setCurrentRow(applications_->count() - 1);
  }
  filling_ = false;
  fill_numbers();
}

void DefaultsList::fill_numbers() {
  filling_ = true;
  numbers_->setRowCount(0);
  for (const ListedDefaults& d : files_) {
    if (!iequals(d.application, application_)) continue;
    const int r = numbers_->rowCount();
    numbers_->insertRow(r);
    auto* first = cell(d.number > 0 ? c_format("Detector %d", d.number) : std::string("Start-up"), false);
    first->setData(Qt::UserRole, d.number);
    numbers_->setItem(r, 0, first);
    numbers_->setItem(r, 1, cell(defaults_file_name(d.application, d.number), false));
    numbers_->setItem(r, 2, cell(d.in_user_folder ? "user" : "program", false));
    if (d.number == number_) numbers_->setCurrentCell(r, 0);
  }
  numbers_->resizeColumnsToContents();
  filling_ = false;
}

int DefaultsList::act(const std::string& action, const std::string& argument) {
  if (action == "screenshot") return screenshot(argument);
  if (finished_) return 0;
  if (action == "close") return close_window();
  if (action == "application") {
    if (argument.empty()) return 0;
    application_ = argument;
    number_ = -1;
    fill();
    return 1;
  }
  if (action == "select") {
    double n = -1;
    if (!read_number(argument, n)) return 0;
    const bool listed = std::any_of(files_.begin(), files_.end(), [&](const ListedDefaults& d) {
      return d.number == static_cast<int>(n) && iequals(d.application, application_);
    });
    if (!listed) return 0;
    number_ = static_cast<int>(n);
    fill_numbers();
    return 1;
  }
  if (action == "lines") {
    for (const ListedDefaults& d : files_) {
      const bool in_use = d.number == state_.params.defaults_number &&
                          iequals(d.application, to_string(state_.params.application_name));
      note(c_format("defaults\t%s\t%s%s", defaults_file_name(d.application, d.number).c_str(),
                    d.in_user_folder ? "user" : "program", in_use ? "\tin use" : ""));
    }
    return 1;
  }
  int result = 0;
  if (action == "switch") {
    if (number_ < 0) {
      ui_.message_box("No Defaults File is selected", {}, kMsgWarning);
      return 0;
    }
    result = switch_defaults_file(state_, application_, number_);
    application_ = to_string(state_.params.application_name);
    number_ = state_.params.defaults_number;
    on_changed();
  } else if (action == "create") {
    // From the button: the application (the selected one, or a new name)
    // and the number are asked for.
    std::string text = argument;
    if (text.empty()) {
      std::string application = application_;
      if (!ui_.ask_text("Application of the new Defaults File", "New Defaults File", false, application) ||
          !ui_.ask_text("Detector number of the new Defaults File (1 to 99)", "New Defaults File", false, text))
        return 0;
      if (!trim(application).empty()) application_ = trim(application);
    }
    double n = 0;
    if (!read_number(text, n) || n != std::floor(n)) n = 0;
    result = create_defaults_file(state_, application_, static_cast<int>(n));
    if (result) {
      application_ = to_string(state_.params.application_name);
      number_ = state_.params.defaults_number;
    }
    on_changed();
  } else if (action == "delete") {
    if (number_ < 0) {
      ui_.message_box("No Defaults File is selected", {}, kMsgWarning);
      return 0;
    }
    result = delete_defaults_file(state_, application_, number_);
    if (result) number_ = -1;
  } else {
    return -1;
  }
  fill();
  return result;
}

// ---- BackgroundList -------------------------------------------------------

BackgroundList::BackgroundList(State& state, QtPlatform& ui, bool saving,
                               std::function<int(const std::string&)> accepted, QWidget* parent)
    : ListWindow(state, ui, parent), saving_(saving), accepted_(std::move(accepted)) {
  setWindowTitle(saving ? "Save Background File" : "Open Background File");
  auto* outer = new QVBoxLayout(this);
  auto* top = new QHBoxLayout();
  top->addWidget(new QLabel("Folder", this));
  directory_edit_ = new QLineEdit(this);
  top->addWidget(directory_edit_, 1);
  connect(directory_edit_, &QLineEdit::returnPressed, this,
          [this] { act("directory", directory_edit_->text().toStdString()); });
  auto* browse = new QPushButton("Browse...", this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = QFileDialog::getExistingDirectory(
        this, "Select the required Drive and/or Directory, then select 'Open'", qs(directory_));
    if (!dir.isEmpty()) act("directory", dir.toStdString());
  });
  top->addWidget(browse);
  outer->addLayout(top);
  table_ = new QTableWidget(0, 2, this);
  table_->setHorizontalHeaderLabels({"File", "Description"});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (row >= 0 && row < static_cast<int>(files_.size()))
      name_edit_->setText(qs(files_[static_cast<size_t>(row)].file_name));
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { act("ok", {}); });
  outer->addWidget(table_, 1);
  auto* name_row = new QHBoxLayout();
  name_row->addWidget(new QLabel("File name", this));
  name_edit_ = new QLineEdit(this);
  name_edit_->setMaxLength(31);
  name_row->addWidget(name_edit_, 1);
  outer->addLayout(name_row);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  button(saving ? "Save" : "Open", "ok", buttons);
  button("Cancel", "close", buttons);
  outer->addLayout(buttons);
  directory_ = background_directory(state_);
  std::string current = state_.app.background_name;
  if (current.empty()) current = to_string(state_.params.background_file);
  if (current.empty()) current = to_string(state_.spectrum.calibration.background_name);
  name_edit_->setText(qs(current));
  ui_.set_status(background_dialog_status(state_));
  resize(560, 400);
  fill();
}

void BackgroundList::fill() {
  directory_edit_->setText(qs(directory_));
  files_ = list_background_files(directory_);
  table_->setRowCount(static_cast<int>(files_.size()));
  const std::string typed = name_edit_->text().toStdString();
  for (int r = 0; r < static_cast<int>(files_.size()); ++r) {
    const BackgroundListing& f = files_[static_cast<size_t>(r)];
    table_->setItem(r, 0, cell(f.file_name, false));
    table_->setItem(r, 1, cell(text_as_utf8(f.title), false));
  }
  table_->resizeColumnsToContents();
  for (int r = 0; r < static_cast<int>(files_.size()); ++r)
    if (iequals(files_[static_cast<size_t>(r)].file_name, typed)) table_->setCurrentCell(r, 0);
  name_edit_->setText(qs(typed));
}

int BackgroundList::act(const std::string& action, const std::string& argument) {
  if (action == "screenshot") return screenshot(argument);
  if (finished_) return 0;
  if (action == "close") return close_window();
  if (action == "directory") {
    if (!directory_exists(argument)) {
      ui_.message_box("Could not open the folder:- " + argument, {}, kMsgWarning);
      return 0;
    }
    directory_ = argument;
    fill();
    return 1;
  }
  if (action == "name") {
    name_edit_->setText(qs(argument));
    return 1;
  }
  if (action == "lines") {
    for (const BackgroundListing& f : files_) note("background\t" + f.file_name + "\t" + text_as_utf8(f.title));
    return 1;
  }
  if (action == "ok") {
    const std::string typed = argument.empty() ? trim(name_edit_->text().toStdString()) : argument;
    std::string name;
    if (!accept_background_name(state_, typed, directory_, saving_, name)) return 0;
    finish();
    return accepted_(name);
  }
  return -1;
}

// ---- DetectorEditor -------------------------------------------------------

namespace {

// The detector-wide fields of section 1: name, offset, 16-bit or real.
struct DetectorField {
  const char* name;
  const char* label;
  int offset;
  bool int16;
};
const DetectorField kDetectorFields[] = {
    {"energy_terms", "Energy terms", cal_offset::kEnergyTerms, false},
    {"c0", "Energy c0 (keV)", cal_offset::kEnergyCoeffs, false},
    {"c1", "Energy c1 (keV/channel)", cal_offset::kEnergyCoeffs + 4, false},
    {"c2", "Energy c2", cal_offset::kEnergyCoeffs + 8, false},
    {"form", "Energy form (0 polynomial, 1 logarithmic)", cal_offset::kEnergyForm, true},
    {"width_terms", "Width terms (-2 resolution form)", cal_offset::kWidthTerms, false},
    {"w0", "Width w0", cal_offset::kWidthCoeffs, false},
    {"w1", "Width w1", cal_offset::kWidthCoeffs + 4, false},
    {"w2", "Width w2", cal_offset::kWidthCoeffs + 8, false},
    {"low_terms", "Low-energy tailing terms", cal_offset::kLowTailTerms, false},
    {"t0", "Low tailing t0", cal_offset::kLowTailCoeffs, false},
    {"t1", "Low tailing t1", cal_offset::kLowTailCoeffs + 4, false},
    {"t2", "Low tailing t2", cal_offset::kLowTailCoeffs + 8, false},
    {"high_terms", "High-energy tailing terms", cal_offset::kHighTailTerms, false},
    {"h0", "High tailing h0", cal_offset::kHighTailCoeffs, false},
    {"h1", "High tailing h1", cal_offset::kHighTailCoeffs + 4, false},
    {"h2", "High tailing h2", cal_offset::kHighTailCoeffs + 8, false},
};

// The geometry table's columns.
enum { kGeoNumber, kGeoCalibrated, kGeoDescription, kGeoSize, kGeoUnits, kGeoBackground, kGeoUncertainty, kGeoColumns };
const char* const kGeoFieldNames[kGeoColumns] = {"", "", "description", "size", "units", "background", "uncertainty"};

}  // namespace

DetectorEditor::DetectorEditor(State& state, QtPlatform& ui, QWidget* parent) : ListWindow(state, ui, parent) {
  auto* outer = new QVBoxLayout(this);
  file_label_ = new QLabel(this);
  outer->addWidget(file_label_);
  auto* grid = new QGridLayout();
  int i = 0;
  for (const DetectorField& f : kDetectorFields) {
    auto* e = new QLineEdit(this);
    e->setToolTip(f.name);
    const std::string name = f.name;
    connect(e, &QLineEdit::editingFinished, this, [this, name, e] {
      if (!filling_) act("set", name + " " + e->text().toStdString());
    });
    // Three columns of label and field.
    grid->addWidget(new QLabel(f.label, this), i % 6, (i / 6) * 2);
    grid->addWidget(e, i % 6, (i / 6) * 2 + 1);
    fields_.emplace_back(name, e);
    ++i;
  }
  outer->addLayout(grid);
  geometries_ = new QTableWidget(0, kGeoColumns, this);
  geometries_->setHorizontalHeaderLabels(
      {"Geometry", "Calibrated", "Description", "Sample size", "Units", "Background", "Uncertainty %"});
  geometries_->verticalHeader()->setVisible(false);
  geometries_->horizontalHeader()->setStretchLastSection(true);
  connect(geometries_, &QTableWidget::cellChanged, this, [this](int row, int column) {
    if (filling_ || column < kGeoDescription) return;
    act("geometry", c_format("%d ", row + 1) + kGeoFieldNames[column] + " " +
                        geometries_->item(row, column)->text().toStdString());
  });
  outer->addWidget(geometries_, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  button("Save", "save", buttons);
  button("Cancel", "cancel", buttons);
  button("Close", "close", buttons);
  outer->addLayout(buttons);
  resize(900, 600);
}

bool DetectorEditor::open_detector(int detector) {
  std::vector<std::uint8_t> bytes;
  std::string path;
  if (!open_detector_file(state_, detector, true, bytes, path)) return false;
  // A short file is read as its whole sections, the first always present.
  extend_to_geometry(bytes, 1);
  detector_ = detector;
  path_ = path;
  image_ = original_ = bytes;
  setWindowTitle(qs(c_format("Detector File - Det_%02d.cal", detector)));
  fill();
  return true;
}

void DetectorEditor::fill() {
  filling_ = true;
  file_label_->setText(qs(path_));
  const std::uint8_t* s = image_.data();
  for (size_t i = 0; i < fields_.size(); ++i) {
    const DetectorField& f = kDetectorFields[i];
    fields_[i].second->setText(f.int16 ? qs(c_format("%d", bin::get_i16(s + f.offset)))
                                       : qs(c_format("%.7g", static_cast<double>(bin::get_f32(s + f.offset)))));
  }
  const std::vector<GeometryDescription> rows = read_geometry_descriptions(image_);
  geometries_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const GeometryDescription& d = rows[static_cast<size_t>(r)];
    const float uncertainty = bin::get_f32(image_.data() + static_cast<size_t>(r) * kDetectorSectionSize +
                                           cal_offset::kUncertainty);
    geometries_->setItem(r, kGeoNumber, cell(std::to_string(d.geometry), false));
    geometries_->setItem(r, kGeoCalibrated, cell(d.calibrated ? "Yes" : "No", false));
    geometries_->setItem(r, kGeoDescription, cell(text_as_utf8(d.description), true));
    geometries_->setItem(r, kGeoSize, cell(c_format("%g", static_cast<double>(d.sample_size)), true));
    geometries_->setItem(r, kGeoUnits, cell(d.units, true));
    geometries_->setItem(r, kGeoBackground, cell(d.background, true));
    geometries_->setItem(r, kGeoUncertainty, cell(c_format("%g", static_cast<double>(uncertainty)), true));
  }
  geometries_->resizeColumnsToContents();
  filling_ = false;
}

int DetectorEditor::set_field(const std::string& field, const std::string& value) {
  const DetectorField* f = nullptr;
  for (const DetectorField& d : kDetectorFields)
    if (field == d.name) f = &d;
  if (!f) return -1;
  double v = 0;
  if (!read_number(value, v)) {
    ui_.message_box(std::string("This value is not valid:- ") + f->label, {}, kMsgWarning);
    return 0;
  }
  const bool terms = field.size() > 6 && field.compare(field.size() - 6, 6, "_terms") == 0;
  if (terms || f->int16) {
    const int n = static_cast<int>(v);
    const bool whole = v == n;
    if (field == "energy_terms" && !(whole && (n == 0 || n == 2 || n == 3))) {
      ui_.message_box("The number of Energy terms should be 0, 2 or 3", {}, kMsgWarning);
      return 0;
    }
    if (field == "width_terms" && !(whole && (n == -2 || (n >= 0 && n <= 3)))) {
      ui_.message_box("The number of Width terms should be -2, 0, 1, 2 or 3", {}, kMsgWarning);
      return 0;
    }
    if ((field == "low_terms" || field == "high_terms") && !(whole && n >= 0 && n <= 3)) {
      ui_.message_box("The number of Tailing terms should be between 0 and 3", {}, kMsgWarning);
      return 0;
    }
    if (field == "form" && !(whole && (n == 0 || n == 1))) {
      ui_.message_box("The Energy form should be 0 (polynomial) or 1 (logarithmic)", {}, kMsgWarning);
      return 0;
    }
  }
  std::uint8_t* s = image_.data();
  if (f->int16) {
    bin::put_i16(s + f->offset, static_cast<std::int16_t>(v));
  } else {
    const float stored = static_cast<float>(v);
    // A value shown unchanged keeps its bits (the text rounds them).
    if (c_format("%.7g", static_cast<double>(bin::get_f32(s + f->offset))) != c_format("%.7g", static_cast<double>(stored)))
      bin::put_f32(s + f->offset, stored);
  }
  return 1;
}

int DetectorEditor::set_geometry(int geometry, const std::string& field, const std::string& value) {
  const int sections = static_cast<int>(image_.size() / kDetectorSectionSize);
  if (geometry < 1 || geometry > sections) return 0;
  std::uint8_t* s = image_.data() + static_cast<size_t>(geometry - 1) * kDetectorSectionSize;
  if (field == "uncertainty") {
    double v = 0;
    if (!read_number(value, v) || v < 0 || v > 100) {
      ui_.message_box("The Calibration uncertainty should be a number between 0 and 100", {}, kMsgWarning);
      return 0;
    }
    if (c_format("%g", static_cast<double>(bin::get_f32(s + cal_offset::kUncertainty))) != c_format("%g", v))
      bin::put_f32(s + cal_offset::kUncertainty, static_cast<float>(v));
    return 1;
  }
  GeometryDescription d = read_geometry_descriptions(image_)[static_cast<size_t>(geometry - 1)];
  const GeometryDescription before = d;
  if (field != "description" && field != "size" && field != "units" && field != "background") return -1;
  if (!set_description_field(ui_, d, field, value)) return 0;
  if (field == "size" && c_format("%g", static_cast<double>(before.sample_size)) ==
                             c_format("%g", static_cast<double>(d.sample_size)))
    return 1;  // shown unchanged: the bits stay
  if (d.description != before.description || d.sample_size != before.sample_size || d.units != before.units ||
      d.background != before.background)
    put_description(image_, d);
  return 1;
}

int DetectorEditor::save() {
  if (!write_file_atomic(path_, image_, nullptr, state_.paths.write_faults)) {
    ui_.message_box("Error writing Calibration file", "", kMsgError);
    return 0;
  }
  original_ = image_;
  return 1;
}

int DetectorEditor::close_window() {
  if (image_ != original_) {
    const int answer = ui_.message_box("Do you want to update the file ?", "The Detector file has been modified",
                                       kMsgYesNoCancel, kAnswerYes);
    if (answer == kAnswerCancel) return 0;
    if (answer == kAnswerYes && !save()) return 0;
  }
  image_ = original_;
  finish();
  return 1;
}

int DetectorEditor::act(const std::string& action, const std::string& argument) {
  if (action == "screenshot") return screenshot(argument);
  if (finished_) return 0;
  if (action == "close") return close_window();
  if (action == "cancel") {
    image_ = original_;
    finish();
    return 1;
  }
  if (action == "lines") {
    for (size_t i = 0; i < fields_.size(); ++i)
      note("field\t" + fields_[i].first + "\t" + fields_[i].second->text().toStdString());
    for (const GeometryDescription& d : read_geometry_descriptions(image_))
      if (d.calibrated || !d.description.empty())
        note(c_format("geometry\t%d\t%s\t%g\t%s\t%s", d.geometry, text_as_utf8(d.description).c_str(),
                      static_cast<double>(d.sample_size), d.units.c_str(), d.background.c_str()));
    return 1;
  }
  int result = -1;
  if (action == "open") {
    double n = 0;
    if (!read_number(argument, n) || n < 1 || n > 99) return 0;
    if (!close_window()) return 0;
    finished_ = false;
    result = open_detector(static_cast<int>(n)) ? 1 : 0;
    if (result) show();
    return result;
  }
  if (action == "set") {
    const auto [field, value] = first_word(argument);
    result = set_field(field, value);
  } else if (action == "geometry") {
    const auto [number, rest] = first_word(argument);
    const auto [field, value] = first_word(rest);
    double g = 0;
    if (!read_number(number, g)) return 0;
    result = set_geometry(static_cast<int>(g), field, value);
  } else if (action == "save") {
    result = save();
  }
  fill();
  return result;
}

// ---- GeometryDialog -------------------------------------------------------

GeometryDialog::GeometryDialog(State& state, QtPlatform& ui, QWidget* parent) : ListWindow(state, ui, parent) {
  auto* outer = new QVBoxLayout(this);
  table_ = new QTableWidget(0, kGeoUncertainty, this);
  table_->setHorizontalHeaderLabels({"Geometry", "Calibrated", "Description", "Sample size", "Units", "Background"});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (!filling_ && row >= 0) selected_ = row + 1;
  });
  connect(table_, &QTableWidget::cellChanged, this, [this](int row, int column) {
    if (filling_ || column < kGeoDescription) return;
    act("edit", c_format("%d ", row + 1) + kGeoFieldNames[column] + " " + table_->item(row, column)->text().toStdString());
  });
  outer->addWidget(table_, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  button("Choose", "choose", buttons);
  button("Close", "close", buttons);
  outer->addLayout(buttons);
  resize(720, 480);
}

bool GeometryDialog::open_detector(int detector) {
  std::vector<std::uint8_t> bytes;
  std::string path;
  if (!open_detector_file(state_, detector, true, bytes, path)) return false;
  detector_ = detector;
  rows_ = read_geometry_descriptions(bytes);
  edits_.clear();
  selected_ = state_.spectrum.header.geometry > 0 ? state_.spectrum.header.geometry : state_.params.default_geometry;
  setWindowTitle(qs(c_format("Geometries of Det_%02d.cal", detector)));
  fill();
  return true;
}

void GeometryDialog::fill() {
  filling_ = true;
  table_->setRowCount(static_cast<int>(rows_.size()));
  for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
    const GeometryDescription& d = rows_[static_cast<size_t>(r)];
    table_->setItem(r, kGeoNumber, cell(std::to_string(d.geometry), false));
    table_->setItem(r, kGeoCalibrated, cell(d.calibrated ? "Yes" : "No", false));
    table_->setItem(r, kGeoDescription, cell(text_as_utf8(d.description), true));
    table_->setItem(r, kGeoSize, cell(c_format("%g", static_cast<double>(d.sample_size)), true));
    table_->setItem(r, kGeoUnits, cell(d.units, true));
    table_->setItem(r, kGeoBackground, cell(d.background, true));
  }
  if (selected_ >= 1 && selected_ <= static_cast<int>(rows_.size())) table_->setCurrentCell(selected_ - 1, 0);
  table_->resizeColumnsToContents();
  filling_ = false;
}

int GeometryDialog::close_window() {
  if (!edits_.empty() && !leave_geometry_editor(state_, detector_, edits_)) return 0;
  edits_.clear();
  finish();
  return 1;
}

int GeometryDialog::act(const std::string& action, const std::string& argument) {
  if (action == "screenshot") return screenshot(argument);
  if (finished_) return 0;
  if (action == "close") return close_window();
  if (action == "lines") {
    for (const GeometryDescription& d : rows_)
      if (d.calibrated || !d.description.empty())
        note(c_format("geometry\t%d\t%s\t%s\t%g\t%s\t%s", d.geometry, d.calibrated ? "calibrated" : "not calibrated",
                      text_as_utf8(d.description).c_str(), static_cast<double>(d.sample_size), d.units.c_str(),
                      d.background.c_str()));
    return 1;
  }
  if (action == "select") {
    double g = 0;
    if (!read_number(argument, g) || g < 1 || g > static_cast<double>(rows_.size())) return 0;
    selected_ = static_cast<int>(g);
    fill();
    return 1;
  }
  if (action == "edit") {
    const auto [number, rest] = first_word(argument);
    const auto [field, value] = first_word(rest);
    double g = 0;
    if (!read_number(number, g) || g < 1 || g > static_cast<double>(rows_.size())) return 0;
    GeometryDescription& d = rows_[static_cast<size_t>(g) - 1];
    GeometryDescription edited = d;
    const int ok = set_description_field(ui_, edited, field, value) ? 1 : 0;
    if (ok) {
      d = edited;
      std::erase_if(edits_, [&](const GeometryDescription& e) { return e.geometry == d.geometry; });
      edits_.push_back(d);
    }
    fill();
    return ok;
  }
  if (action == "choose") {
    double g = selected_;
    if (!argument.empty() && !read_number(argument, g)) return 0;
    if (g < 1 || g > static_cast<double>(rows_.size())) {
      ui_.message_box("No Geometry is selected", {}, kMsgWarning);
      return 0;
    }
    selected_ = static_cast<int>(g);
    // The read makes it the spectrum's geometry when it is calibrated.
    const int ok = app_read_detector_calibration(state_, detector_, selected_);
    state_.app.spectrum_changed = true;
    on_changed();
    fill();
    return ok;
  }
  return -1;
}

// ---- ReferenceList --------------------------------------------------------

ReferenceList::ReferenceList(State& state, QtPlatform& ui, QWidget* parent) : ListWindow(state, ui, parent) {
  setWindowTitle("Select Reference Spectra");
  folder_ = to_string(state_.params.calibration_dir);
  if (folder_.empty()) folder_ = state_.paths.working_dir;
  else if (folder_.front() != '/') folder_ = join_path(state_.paths.working_dir, folder_);
  folder_ = resolve_path(folder_);
  ui_.set_status("Finding Reference Spectral data files...");
  std::vector<std::string> names;
  for (const std::string& name : list_directory(folder_))
    if (wildcard_match("*.rsd", to_lower(name))) names.push_back(name);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    // A file that cannot be read is listed without a title; choosing it
    // says why.
    ReferenceSpectrum ref;
    std::vector<std::uint8_t> bytes;
    std::string problem;
    Listed l;
    l.file = name;
    if (read_file(join_path(folder_, name), bytes, 1 << 26) && decode_reference(bytes, ref, problem)) {
      l.title = ref.title;
      l.activity_bq = ref.activity_bq;
      l.uncertainty_pct = ref.activity_uncertainty_pct;
    }
    files_.push_back(l);
  }
  ui_.set_status("");

  auto* outer = new QVBoxLayout(this);
  outer->addWidget(new QLabel(qs("Reference spectra in " + folder_), this));
  table_ = new QTableWidget(static_cast<int>(files_.size()), 4, this);
  table_->setHorizontalHeaderLabels({"File", "Title", "Activity (Bq)", "Uncertainty (%)"});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::MultiSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  for (int r = 0; r < static_cast<int>(files_.size()); ++r) {
    const Listed& l = files_[static_cast<size_t>(r)];
    table_->setItem(r, 0, cell(l.file, false));
    table_->setItem(r, 1, cell(text_as_utf8(l.title), false));
    table_->setItem(r, 2, cell(c_format("%.5g", l.activity_bq), false));
    table_->setItem(r, 3, cell(c_format("%.1f", l.uncertainty_pct), false));
    // The references of the current set are chosen already.
    const std::string stem = l.file.substr(0, l.file.size() - 4);
    for (const ReferenceSpectrum& in_set : state_.references.spectra)
      if (in_set.name == stem) table_->selectRow(r);
  }
  table_->resizeColumnsToContents();
  outer->addWidget(table_, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  button("OK", "ok", buttons);
  button("Cancel", "close", buttons);
  outer->addLayout(buttons);
  resize(620, 380);
}

int ReferenceList::act(const std::string& action, const std::string& argument) {
  if (action == "screenshot") return screenshot(argument);
  if (finished_) return 0;
  if (action == "close") return close_window();
  if (action == "select") {
    table_->clearSelection();
    if (argument == "all") {
      table_->selectAll();
      return 1;
    }
    for (const std::string& w : words_of(argument)) {
      double row = -1;
      if (read_number(w, row) && row >= 0 && row < table_->rowCount()) table_->selectRow(static_cast<int>(row));
    }
    return 1;
  }
  if (action == "lines") {
    for (const Listed& l : files_)
      note(c_format("reference\t%s\t%s\t%.5g\t%.1f", l.file.c_str(), text_as_utf8(l.title).c_str(), l.activity_bq,
                    l.uncertainty_pct));
    return 1;
  }
  if (action != "ok") return -1;
  std::vector<int> rows;
  for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  if (rows.empty()) {
    ui_.message_box("No Reference Spectrum is selected", {}, kMsgWarning);
    return 0;
  }
  if (rows.size() > static_cast<size_t>(kMaxReferences)) {
    ui_.message_box("Can only use 10 Reference Spectra", {}, kMsgWarning);
    rows.resize(static_cast<size_t>(kMaxReferences));
  }
  // The chosen files, read in list order, become the set; a file that
  // cannot be read ends the choice with no set.
  state_.hooks.clear_reference_spectra();
  for (int r : rows)
    if (!state_.hooks.load_reference_spectrum(join_path(folder_, files_[static_cast<size_t>(r)].file))) {
      state_.hooks.clear_reference_spectra();
      state_.params.reference_count = 0;
      on_changed();
      return 0;
    }
  for (int k = 0; k < kMaxReferences; ++k) state_.params.set_reference_name(k, "");
  for (size_t k = 0; k < rows.size(); ++k) {
    const std::string& file = files_[static_cast<size_t>(rows[k])].file;
    state_.params.set_reference_name(static_cast<int>(k), file.substr(0, file.size() - 4));
  }
  state_.params.reference_count = static_cast<std::int32_t>(rows.size());
  state_.params.reference_fitting = 1;
  finish();
  const int ok = run_long(fit);
  on_changed();
  return ok;
}

}  // namespace kestrim::desktop
