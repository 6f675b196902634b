#include "library_editor.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <functional>

#include "app/state.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text_encoding.h"
#include "qt_platform.h"

namespace kestrim::desktop {

namespace {

QString qs(const std::string& s) { return QString::fromUtf8(s.c_str()); }

// The nuclide table's columns.
enum { kName, kDescription, kSource, kHalfLife, kUnit, kLines, kNuclideColumns };

char unit_letter(const char* unit) { return unit[0]; }

}  // namespace

bool add_library_nuclide(NuclideLibrary& lib, const std::string& name) {
  if (lib.nuclide_count >= kLibraryNuclideSlots) return false;
  Nuclide n;
  assign(n.name, name);
  lib.nuclides[static_cast<size_t>(lib.nuclide_count++)] = n;
  lib.modified = true;
  return true;
}

bool delete_library_line(NuclideLibrary& lib, int line) {
  if (line < 0 || line >= lib.line_count) return false;
  const auto from = static_cast<long>(line) + 1, end = static_cast<long>(lib.line_count);
  std::copy(lib.line_energy.begin() + from, lib.line_energy.begin() + end, lib.line_energy.begin() + from - 1);
  std::copy(lib.line_yield.begin() + from, lib.line_yield.begin() + end, lib.line_yield.begin() + from - 1);
  std::copy(lib.line_uncertainty.begin() + from, lib.line_uncertainty.begin() + end,
            lib.line_uncertainty.begin() + from - 1);
  std::copy(lib.line_owner.begin() + from, lib.line_owner.begin() + end, lib.line_owner.begin() + from - 1);
  --lib.line_count;
  const auto last = static_cast<size_t>(lib.line_count);
  lib.line_energy[last] = lib.line_yield[last] = lib.line_uncertainty[last] = 0;
  lib.line_owner[last] = 0;
  lib.modified = true;
  return true;
}

bool delete_library_nuclide(NuclideLibrary& lib, int nuclide) {
  if (nuclide < 0 || nuclide >= lib.nuclide_count) return false;
  for (auto [first, end] = lib.lines_of(nuclide); end > first; --end) delete_library_line(lib, first);
  for (int i = 0; i < lib.line_count; ++i)
    if (lib.line_owner[static_cast<size_t>(i)] > nuclide) --lib.line_owner[static_cast<size_t>(i)];
  std::copy(lib.nuclides.begin() + nuclide + 1, lib.nuclides.begin() + lib.nuclide_count,
            lib.nuclides.begin() + nuclide);
  --lib.nuclide_count;
  lib.nuclides[static_cast<size_t>(lib.nuclide_count)] = Nuclide{};
  lib.modified = true;
  return true;
}

bool add_library_line(NuclideLibrary& lib, int nuclide, float energy, float yield, float uncertainty) {
  if (nuclide < 0 || nuclide >= lib.nuclide_count || lib.line_count >= kLibraryLineSlots) return false;
  auto [first, end] = lib.lines_of(nuclide);
  if (end - first >= kNuclideLineSlots) return false;
  if (first == end) {
    // A nuclide without lines: its group goes after the lines of the
    // nuclides before it.
    end = 0;
    while (end < lib.line_count && lib.line_owner[static_cast<size_t>(end)] < nuclide) ++end;
  }
  const auto at = static_cast<long>(end), count = static_cast<long>(lib.line_count);
  std::copy_backward(lib.line_energy.begin() + at, lib.line_energy.begin() + count, lib.line_energy.begin() + count + 1);
  std::copy_backward(lib.line_yield.begin() + at, lib.line_yield.begin() + count, lib.line_yield.begin() + count + 1);
  std::copy_backward(lib.line_uncertainty.begin() + at, lib.line_uncertainty.begin() + count,
                     lib.line_uncertainty.begin() + count + 1);
  std::copy_backward(lib.line_owner.begin() + at, lib.line_owner.begin() + count, lib.line_owner.begin() + count + 1);
  lib.line_energy[static_cast<size_t>(at)] = energy;
  lib.line_yield[static_cast<size_t>(at)] = yield;
  lib.line_uncertainty[static_cast<size_t>(at)] = uncertainty;
  lib.line_owner[static_cast<size_t>(at)] = nuclide;
  ++lib.line_count;
  lib.modified = true;
  return true;
}

LibraryEditor::LibraryEditor(State& state, QtPlatform& ui, bool may_modify, QWidget* parent)
    : QDialog(parent), state_(state), ui_(ui), may_modify_(may_modify) {
  setModal(false);
  auto* outer = new QVBoxLayout(this);
  auto* split = new QSplitter(Qt::Vertical, this);
  nuclides_ = new QTableWidget(split);
  nuclides_->setColumnCount(kNuclideColumns);
  nuclides_->setHorizontalHeaderLabels({"Name", "Description", "Data source", "Half-life", "Unit", "Lines"});
  nuclides_->setSelectionBehavior(QAbstractItemView::SelectRows);
  nuclides_->setSelectionMode(QAbstractItemView::SingleSelection);
  nuclides_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lines_ = new QTableWidget(split);
  lines_->setColumnCount(3);
  lines_->setHorizontalHeaderLabels({"Energy keV", "Yield %", "Uncertainty %"});
  lines_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lines_->setSelectionMode(QAbstractItemView::SingleSelection);
  for (QTableWidget* t : {nuclides_, lines_}) {
    t->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (!may_modify_) t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  }
  split->addWidget(nuclides_);
  split->addWidget(lines_);
  outer->addWidget(split, 1);
  connect(nuclides_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (filling_ || row < 0) return;
    current_ = row;
    fill_lines();
  });
  connect(nuclides_, &QTableWidget::cellChanged, this, [this](int r, int c) { nuclide_edited(r, c); });
  connect(lines_, &QTableWidget::cellChanged, this, [this](int r, int c) { line_edited(r, c); });
  auto* buttons = new QHBoxLayout();
  auto button = [&](const char* text, std::function<void()> f, bool modifies) {
    auto* b = new QPushButton(text, this);
    b->setEnabled(may_modify_ || !modifies);
    connect(b, &QPushButton::clicked, this, std::move(f));
    buttons->addWidget(b);
  };
  button("Add Nuclide", [this] { act("add_nuclide", "NEW"); }, true);
  button("Delete Nuclide", [this] { act("delete_nuclide", std::to_string(current_)); }, true);
  button("Add Line", [this] { act("add_line", "0 0 0"); }, true);
  button("Delete Line", [this] { act("delete_line", std::to_string(std::max(0, lines_->currentRow()))); }, true);
  button("Sort Lines", [this] { act("sort", {}); }, true);
  button("Save", [this] { act("save", {}); }, true);
  button("Save As...", [this] { act("save_as", {}); }, true);
  button("Close", [this] { act("close", {}); }, false);
  outer->addLayout(buttons);
  resize(820, 600);
}

bool LibraryEditor::open_library(const std::string& title_or_path) {
  NuclideLibrary lib;
  std::string error;
  const bool path = title_or_path.find('/') != std::string::npos;
  const int r = path ? load_library_file(ui_, title_or_path, lib, &error)
                     : load_library(ui_, state_.paths, title_or_path, lib, &error);
  if (r != 1) {
    ui_.message_box(error.empty() ? std::string(kLibraryReadFailed) : error);
    if (r == 0) return false;
  }
  lib.title = base_name(title_or_path);
  lib.modified = false;
  lib_ = std::move(lib);
  current_ = 0;
  setWindowTitle(qs("Library Editor - " + lib_.title));
  refresh();
  return true;
}

void LibraryEditor::refresh() {
  filling_ = true;
  nuclides_->setRowCount(lib_.nuclide_count);
  for (int k = 0; k < lib_.nuclide_count; ++k) {
    const Nuclide& n = lib_.nuclides[static_cast<size_t>(k)];
    const HalfLifeDisplay h = display_half_life(n.half_life);
    const auto [first, end] = lib_.lines_of(k);
    const std::string cells[kNuclideColumns] = {
        to_string(n.name), text_as_utf8(to_string(n.description)), text_as_utf8(to_string(n.data_source)),
        c_format("%g", h.value), std::string(1, unit_letter(h.unit)), std::to_string(end - first)};
    for (int c = 0; c < kNuclideColumns; ++c) {
      auto* it = new QTableWidgetItem(qs(cells[c]));
      if (c == kLines) it->setFlags(it->flags() & ~Qt::ItemIsEditable);
      nuclides_->setItem(k, c, it);
    }
  }
  if (current_ >= lib_.nuclide_count) current_ = std::max(0, lib_.nuclide_count - 1);
  if (lib_.nuclide_count > 0) nuclides_->setCurrentCell(current_, 0);
  filling_ = false;
  fill_lines();
}

void LibraryEditor::fill_lines() {
  filling_ = true;
  const auto [first, end] = current_ < lib_.nuclide_count ? lib_.lines_of(current_) : std::pair<int, int>{0, 0};
  lines_->setRowCount(end - first);
  for (int i = first; i < end; ++i) {
    const auto at = static_cast<size_t>(i);
    lines_->setItem(i - first, 0, new QTableWidgetItem(qs(c_format("%.3f", lib_.line_energy[at]))));
    lines_->setItem(i - first, 1, new QTableWidgetItem(qs(c_format("%.4g", lib_.line_yield[at] * 100))));
    lines_->setItem(i - first, 2, new QTableWidgetItem(qs(c_format("%.4g", lib_.line_uncertainty[at] * 100))));
  }
  filling_ = false;
}

void LibraryEditor::nuclide_edited(int row, int column) {
  if (filling_) return;
  act("edit", std::to_string(row) + " " + std::to_string(column) + " " +
                  nuclides_->item(row, column)->text().toStdString());
}

void LibraryEditor::line_edited(int row, int column) {
  if (filling_) return;
  act("edit_line", std::to_string(row) + " " + std::to_string(column) + " " +
                       lines_->item(row, column)->text().toStdString());
}

int LibraryEditor::close_editor() {
  if (may_modify_ && !ask_to_save_library(ui_, state_.paths, lib_)) return 0;
  closed_ = true;
  hide();
  return 1;
}

void LibraryEditor::closeEvent(QCloseEvent* event) {
  if (!closed_ && !close_editor()) {
    event->ignore();
    return;
  }
  event->accept();
}

int LibraryEditor::act(const std::string& action, const std::string& argument) {
  if (closed_) return 0;
  if (action == "close") return close_editor();
  if (action == "select") {
    const int row = static_cast<int>(c_strtod(argument.c_str(), nullptr));
    if (row < 0 || row >= lib_.nuclide_count) return 0;
    current_ = row;
    refresh();
    return 1;
  }
  if (action == "open") {
    if (may_modify_ && !ask_to_save_library(ui_, state_.paths, lib_)) return 0;
    return open_library(argument) ? 1 : 0;
  }
  if (!may_modify_) {
    ui_.message_box("Modifications cannot be made to the Library", "The Password was not entered", kMsgWarning);
    refresh();
    return 0;
  }
  // The words of the argument: numbers, and the text after the first two.
  std::vector<std::string> words;
  for (size_t at = 0; at < argument.size();) {
    while (at < argument.size() && argument[at] == ' ') ++at;
    if (at >= argument.size()) break;
    size_t end = argument.find(' ', at);
    if (end == std::string::npos) end = argument.size();
    words.push_back(argument.substr(at, end - at));
    at = end;
  }
  auto number = [&](size_t i) { return i < words.size() ? c_strtod(words[i].c_str(), nullptr) : 0.0; };
  auto text_after = [&](size_t skip) {
    size_t at = 0;
    for (size_t i = 0; i < skip; ++i) {
      while (at < argument.size() && argument[at] == ' ') ++at;
      while (at < argument.size() && argument[at] != ' ') ++at;
    }
    if (at < argument.size() && argument[at] == ' ') ++at;
    return at < argument.size() ? argument.substr(at) : std::string();
  };
  bool done = true;
  if (action == "add_nuclide") {
    done = add_library_nuclide(lib_, argument.empty() ? "NEW" : argument);
    if (done) current_ = lib_.nuclide_count - 1;
  } else if (action == "delete_nuclide") {
    done = delete_library_nuclide(lib_, words.empty() ? current_ : static_cast<int>(number(0)));
  } else if (action == "add_line") {
    done = add_library_line(lib_, current_, static_cast<float>(number(0)), static_cast<float>(number(1) / 100),
                            static_cast<float>(number(2) / 100));
  } else if (action == "delete_line") {
    const auto [first, end] = lib_.lines_of(current_);
    const int row = words.empty() ? end - first - 1 : static_cast<int>(number(0));
    done = row >= 0 && first + row < end && delete_library_line(lib_, first + row);
  } else if (action == "edit") {
    const int row = static_cast<int>(number(0)), column = static_cast<int>(number(1));
    const std::string text = text_after(2);
    if (row < 0 || row >= lib_.nuclide_count) return 0;
    Nuclide& n = lib_.nuclides[static_cast<size_t>(row)];
    if (column == kName) {
      assign(n.name, text);
    } else if (column == kDescription) {
      assign(n.description, utf8_to_windows1252(text));
    } else if (column == kSource) {
      assign(n.data_source, utf8_to_windows1252(text));
    } else if (column == kHalfLife || column == kUnit) {
      const HalfLifeDisplay h = display_half_life(n.half_life);
      const char unit = column == kUnit ? static_cast<char>(std::toupper(static_cast<unsigned char>(text.empty() ? ' ' : text[0])))
                                        : unit_letter(h.unit);
      if (!check_editor_half_life_unit(ui_, unit)) done = false;
      else
        n.half_life = static_cast<float>(half_life_to_minutes(
            column == kHalfLife ? c_strtod(text.c_str(), nullptr) : h.value, unit));
    } else {
      done = false;
    }
    if (done) lib_.modified = true;
  } else if (action == "edit_line") {
    const auto [first, end] = lib_.lines_of(current_);
    const int row = static_cast<int>(number(0)), column = static_cast<int>(number(1));
    if (row < 0 || first + row >= end || column < 0 || column > 2) return 0;
    const auto at = static_cast<size_t>(first + row);
    const float v = static_cast<float>(column == 0 ? number(2) : number(2) / 100);
    (column == 0 ? lib_.line_energy : column == 1 ? lib_.line_yield : lib_.line_uncertainty)[at] = v;
    lib_.modified = true;
  } else if (action == "sort") {
    sort_library_lines(lib_);
    lib_.modified = true;
  } else if (action == "save") {
    done = save_library(ui_, state_.paths, lib_) == 1;
  } else if (action == "save_as") {
    FileDialog d;
    d.title = "Save current Library";
    d.filters = {{"Libraries (*.*)", "*.*"}};
    d.initial_directory = library_user_folder(state_.paths);
    d.initial_name = lib_.title;
    done = ui_.save_file_dialog(d) && !d.paths.empty();
    if (done) {
      std::string path = d.paths.front();
      if (base_name(path).find('.') == std::string::npos) path += ".lib";
      done = save_library_file(ui_, lib_, path) == 1;
      if (done) lib_.title = base_name(path);
    }
  } else {
    return -1;
  }
  refresh();
  return done ? 1 : 0;
}

}  // namespace kestrim::desktop
