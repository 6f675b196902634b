// The library editor of the desktop program: the nuclides of a library file
// (name, description, data source, half-life) and the gamma lines of the
// selected nuclide (energy, yield, uncertainty), with add, delete, edit and
// sorting of the lines and of the nuclides (by name or by mass number),
// saving, the import of the listings of four other programs and of library
// CSV, and the export as CSV and as a text listing. It works on its own copy of the library, read from the
// file, so that saving a library that was not changed writes the same bytes.
// Without the privilege the editor only shows, exports and lists the
// library; every change is refused with "Modifications cannot be made to the
// Library".
#pragma once

#include <QDialog>

#include <string>

#include "settings/library.h"

class QTableWidget;

namespace kestrim {
struct State;
}

namespace kestrim::desktop {

class QtPlatform;

// Edits of the library buffer that keep each nuclide's lines together and
// in nuclide order, and set the modified flag. Each returns false (nothing
// changed) when the slots are full or the index is out of range.
bool add_library_nuclide(NuclideLibrary& lib, const std::string& name);
bool delete_library_nuclide(NuclideLibrary& lib, int nuclide);
bool add_library_line(NuclideLibrary& lib, int nuclide, float energy, float yield, float uncertainty);
bool delete_library_line(NuclideLibrary& lib, int line);
// Puts the nuclides in order of name (ignoring case) or of mass number (the
// number after the '-', then the name), each keeping its lines.
void sort_library_nuclides(NuclideLibrary& lib, bool by_mass_number);

class LibraryEditor : public QDialog {
 public:
  LibraryEditor(State& state, QtPlatform& ui, bool may_modify, QWidget* parent);

  // Reads a library file (by title from the library folders, or a path).
  bool open_library(const std::string& title_or_path);
  // One action (buttons and scripts): open PATH, select ROW,
  // add_nuclide NAME, delete_nuclide [ROW] (the selected one when none),
  // add_line ENERGY YIELD% UNC% (to the selected nuclide), delete_line [ROW]
  // (its last line when none), edit ROW COLUMN TEXT (nuclide table),
  // edit_line ROW COLUMN VALUE (line table), sort (lines), sort_nuclides
  // name|mass, save, save_as (path from the file dialog), import
  // spectran|omnigam|gammavision|genie|csv (the filter preselected in the
  // file dialog; the one chosen picks the reader), export_csv, list, close.
  // Returns 1 done, 0 refused, -1 unknown.
  int act(const std::string& action, const std::string& argument);
  const NuclideLibrary& library() const { return lib_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void refresh();
  void fill_lines();
  void nuclide_edited(int row, int column);
  void line_edited(int row, int column);
  int close_editor();
  int import_file(const std::string& kind);
  int export_csv();

  State& state_;
  QtPlatform& ui_;
  bool may_modify_;
  NuclideLibrary lib_;
  int current_ = 0;
  QTableWidget* nuclides_ = nullptr;
  QTableWidget* lines_ = nullptr;
  bool filling_ = false;
  bool closed_ = false;
};

}  // namespace kestrim::desktop
