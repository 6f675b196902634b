// The program's command line.
//
// Program arguments are taken as given, one keyword each: "/keyword",
// "--keyword", "--keyword=VALUE" or "--keyword VALUE"; after "--" an
// argument is the spectrum path. A command-line text (handed over by a
// second start) is split where "/" starts a word, at the start of the line
// or after white space (so "/file=/home/lab/s1.dat" keeps its path).
// Keywords compare ignoring case and start their token; values keep their
// case. The keywords choosing the Defaults file (app=, det=) are carried out
// first, so the order of the keywords does not matter.
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
  // A keyword could not be carried out (unknown keyword, library or
  // database template not found, Defaults file not loaded): a batch run
  // must not go on as if it had been.
  bool refused = false;
};

// The keyword a token starts with ("batch", "file=", ...), "" for none.
std::string keyword_of(const std::string& token);

// The keyword tokens (without "/" or "--") of program arguments. False with
// `error` set for an argument that is no keyword, a keyword without its
// value or a second spectrum.
bool command_line_tokens(const std::vector<std::string>& args, std::vector<std::string>& tokens,
                         std::string& error);

// Splits a command-line text into keyword tokens (without their "/" or
// "--"), trailing blanks removed. Text before the first keyword is a token
// of its own.
std::vector<std::string> split_command_line(const std::string& text);

// Parses and carries out the command line. On success with /file= the
// spectrum has been opened (the result is that of the open).
CommandLineResult parse_command_line(State& state, const std::string& text);
CommandLineResult parse_command_line(State& state, const std::vector<std::string>& tokens);

}  // namespace kestrim
