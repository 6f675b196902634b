// The folders a session works with.
#pragma once

#include <string>

namespace kestrim {

class WriteFaults;

// Where things live. Paths end without a trailing '/'.
struct Paths {
  std::string program_dir;  // shipped Libraries/, DefaultFiles/, Templates/ (read only)
  std::string user_dir;     // the user's Defaults files and libraries (read-write)
  std::string working_dir;  // reports, lists, temporary files
  // Where the user's detector files are when the Defaults name no
  // calibration directory: the working directory, unless a command writes
  // its reports elsewhere (kestrim peaks) and sets this to the user's one.
  std::string user_working_dir;
  // Makes chosen writes fail (tests only; null in the program).
  WriteFaults* write_faults = nullptr;
};

}  // namespace kestrim
