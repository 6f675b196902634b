// The CSV activity database: one line per analysed spectrum, its columns
// chosen by a database template (the database name + ".TPL", else
// "dbase.tpl"), appended to the database name + ".CSV" in the working
// folder. A new file (missing or shorter than 3 bytes) gets a header line
// of column names first.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace kestrim {

struct ReportSession;
struct TokenContext;

// Line limit: a section adds no field once the line holds this many
// characters.
inline constexpr std::size_t kDatabaseLineLimit = 2000;

// Builds one database line (with CR LF) from the template: the header
// pass gives the column names, the data pass the values. The header pass
// may put the substituted "header.tpl" ahead of its line (`prefix`).
std::string database_line(const ReportSession& state, const TokenContext& ctx, const std::string& tpl,
                          bool header_pass, std::string* prefix);

// The database path without extension: `dbase=` of the command line, else
// the parameter's database name (default "dbase").
std::string database_stem(const ReportSession& state);

// Appends the line of the current analysis, with a header line first for a
// new file. Returns 1 when written, 0 otherwise (no template, a file error,
// or the user gave up while the file was in use: the analysis abort flag is
// then set).
int update_activity_database(const ReportSession& state);

// The same with the file opening supplied: fopen-like, returning nullptr
// with errno set on failure (EACCES, EBUSY or ETXTBSY mean the file is in
// use and the user is asked to retry).
using DatabaseOpener = std::function<std::FILE*(const std::string& path, const char* mode)>;
int update_activity_database(const ReportSession& state, const DatabaseOpener& open);

}  // namespace kestrim
