// The commands of the desktop program's main window: their ids, names for
// scripts, menu texts, shortcuts, the menu they sit in and the help text the
// status line shows while the command is browsed. The menus and the script
// runner are built from this one table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrim::desktop {

// The top-level menus, in menu-bar order. The fifth one (peak fitting) is
// the one a short menu leaves out.
enum Menu : int {
  kMenuFile,
  kMenuEdit,
  kMenuDisplay,
  kMenuAnalysis,
  kMenuFitting,
  kMenuCalibration,
  kMenuReports,
  kMenuSetup,
  kMenuHelp,
  kMenuCount
};

struct DesktopCommand {
  int id;
  const char* name;      // script name ("full_analysis")
  const char* text;      // menu text
  const char* shortcut;  // Qt key sequence text, "" for none
  int menu;              // Menu
  const char* submenu;   // submenu title, "" when directly in the menu
  bool checkable;
  const char* help;      // status line text while browsed, "" for none
};

// Every command, in menu order.
const std::vector<DesktopCommand>& desktop_commands();

// The command with this id, or with this name or menu text (case and the
// characters other than letters and digits ignored); null when none.
const DesktopCommand* find_command(std::string_view id_or_name);
const DesktopCommand* find_command(int id);

const char* menu_title(int menu);

// The status text of a submenu while it is browsed, chosen by the id of its
// first command ("" for none).
const char* submenu_help(int first_command_id);

// What the status line shows while a command is browsed: its help text, or
// "wParam:- <id>" when it has none.
std::string command_help(int id);

// Commands a short menu (the full-menu switch 0) leaves out.
bool removed_by_short_menu(int id);

}  // namespace kestrim::desktop
