// The program's command line.
//
// Keywords start with "/" at the start of the line or after white space
// (so "/file=/home/lab/s1.dat" keeps its path), or with "--" (GNU form,
// "--file=PATH"). Keywords compare ignoring case; values keep theirs.
//   batch display print autocal enecal shape effcal save update
//   det=N geo=N app=NAME file=PATH src=NAME pkslib=LIB lodlib=LIB lib=LIB dbase=PATH
#pragma once

#include <string>
#include <vector>

namespace kestrim {

struct State;

struct CommandLineResult {
  bool ok = false;
  bool save_requested = false;
  bool update_without_asking = false;
  bool file_named = false;
};

// Splits a command-line text into keyword tokens (without their "/" or
// "--"), trailing blanks removed. Text before the first keyword is a token
// of its own.
std::vector<std::string> split_command_line(const std::string& text);

// Joins program arguments into one command-line text: "--keyword" arguments
// become "/keyword", others are kept as they are.
std::string command_line_from_args(const std::vector<std::string>& args);

// Parses and carries out the command line. On success with /file= the
// spectrum has been opened (the result is that of the open).
CommandLineResult parse_command_line(State& state, const std::string& text);

}  // namespace kestrim
