#include "library_editor.h"
#include "qt_text.h"

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
#include "help_window.h"
#include "nuclides/library_csv.h"
#include "nuclides/library_import.h"
#include "nuclides/library_listing.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text_encoding.h"
#include "qt_platform.h"

namespace kestrim::desktop {

namespace {


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

void sort_library_nuclides(NuclideLibrary& lib, bool by_mass_number) {
  const int n = lib.nuclide_count;
  std::vector<int> order(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
  auto folded = [&](int i) {
    std::string name = to_string(lib.nuclides[static_cast<size_t>(i)].name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  auto mass = [&](int i) {
    const std::string name = to_string(lib.nuclides[static_cast<size_t>(i)].name);
    const size_t dash = name.find('-');
    return dash == std::string::npos ? 0.0 : c_strtod(name.c_str() + dash + 1, nullptr);
  };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    if (by_mass_number && mass(a) != mass(b)) return mass(a) < mass(b);
    return folded(a) < folded(b);
  });
  NuclideLibrary sorted;
  sorted.title = lib.title;
  sorted.clipboard = lib.clipboard;
  sorted.clipboard_count = lib.clipboard_count;
  for (int k = 0; k < n; ++k) {
    const int from = order[static_cast<size_t>(k)];
    sorted.nuclides[static_cast<size_t>(k)] = lib.nuclides[static_cast<size_t>(from)];
    const auto [first, end] = lib.lines_of(from);
    for (int i = first; i < end; ++i) {
      const auto at = static_cast<size_t>(sorted.line_count++), src = static_cast<size_t>(i);
      sorted.line_energy[at] = lib.line_energy[src];
      sorted.line_yield[at] = lib.line_yield[src];
      sorted.line_uncertainty[at] = lib.line_uncertainty[src];
      sorted.line_owner[at] = k;
    }
  }
  sorted.nuclide_count = n;
  sorted.modified = true;
  lib = std::move(sorted);
}

LibraryEditor::LibraryEditor(State& state, QtPlatform& ui, bool may_modify, QWidget* parent)
    : QDialog(parent), state_(state), ui_(ui), may_modify_(may_modify) {
  setModal(false);
  set_help_section(this, "Library editor");
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
  button("Sort by Name", [this] { act("sort_nuclides", "name"); }, true);
  button("Sort by Mass", [this] { act("sort_nuclides", "mass"); }, true);
  outer->addLayout(buttons);
  buttons = new QHBoxLayout();
  button("Import...", [this] { act("import", "spectran"); }, true);
  button("Export CSV...", [this] { act("export_csv", {}); }, false);
  button("List as Text...", [this] { act("list", {}); }, false);
  buttons->addStretch(1);
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
  // Export and listing leave the library as it is.
  if (action == "export_csv") return export_csv();
  if (action == "list") return list_library_to_file(ui_, state_.paths, lib_);
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
  } else if (action == "sort_nuclides") {
    if (argument != "name" && argument != "mass") return 0;
    sort_library_nuclides(lib_, argument == "mass");
    current_ = 0;
  } else if (action == "import") {
    done = import_file(argument) == 1;
    if (done) {
      current_ = 0;
      setWindowTitle(qs("Library Editor - " + lib_.title));
    }
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

int LibraryEditor::import_file(const std::string& kind) {
  static const char* const kKinds[] = {"spectran", "omnigam", "gammavision", "genie", "csv"};
  FileDialog d;
  d.title = "Import Library Listing Text File";
  d.filters = {{"Spectran", "*.WRI"},
               {"Omnigam", "*.LIS"},
               {"Gammavision", "*.TXT"},
               {"Genie", "*.LIS"},
               {"Library CSV (*.csv)", "*.csv"}};
  d.filter_index = 0;
  for (int i = 0; i < 5; ++i)
    if (kind == kKinds[i]) d.filter_index = i;
  d.initial_directory = state_.paths.working_dir;
  if (!ui_.open_file_dialog(d) || d.paths.empty()) return 0;
  const std::string& path = d.paths.front();
  if (d.filter_index != 4) {
    static const ListingKind kListings[] = {ListingKind::kSpectran, ListingKind::kOmnigam,
                                            ListingKind::kGammavision, ListingKind::kGenie};
    return import_listing(ui_, lib_, path, kListings[std::clamp(d.filter_index, 0, 3)]);
  }
  // A library's CSV text replaces the library; its title is the file's name
  // with the extension ".lib".
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes, 64u << 20)) {
    ui_.message_box("Could not open source file:- " + path);
    return 0;
  }
  NuclideLibrary lib;
  std::string error;
  if (!library_from_csv(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), lib, &error)) {
    ui_.message_box(base_name(path) + ": " + error, "The Library could not be imported");
    return 0;
  }
  std::string title = base_name(path);
  title = title.substr(0, title.find('.'));
  if (title.size() > static_cast<size_t>(kLibraryTitleMax) - 4) title.resize(static_cast<size_t>(kLibraryTitleMax) - 4);
  lib.title = title + ".lib";
  lib.clipboard = lib_.clipboard;
  lib.clipboard_count = lib_.clipboard_count;
  lib.modified = true;
  lib_ = std::move(lib);
  return 1;
}

int LibraryEditor::export_csv() {
  FileDialog d;
  d.title = "Export Library as CSV";
  d.filters = {{"Library CSV (*.csv)", "*.csv"}};
  d.initial_directory = state_.paths.working_dir;
  d.initial_name = lib_.title.substr(0, lib_.title.rfind('.')) + ".csv";
  if (!ui_.save_file_dialog(d) || d.paths.empty()) return 0;
  std::string path = d.paths.front();
  if (base_name(path).find('.') == std::string::npos) path += ".csv";
  std::string error;
  if (!write_text_atomic(path, library_to_csv(lib_), &error)) {
    ui_.message_box("Error writing " + path);
    return 0;
  }
  return 1;
}

}  // namespace kestrim::desktop
