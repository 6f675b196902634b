// The report template engine.
//
// A template is a text file read line by line. Each line goes into a
// 120-character buffer filled with blanks and is scanned left to right; every
// '?' starts a token made of the next four characters (the line end counts
// as a terminator, so "?ISO" may end a line). The token is looked up,
// ignoring case, in the token tables in order (sample tokens, then parameter
// tokens) and gives a value text and one number, the width code:
//   width 5 or more  the value, padded with blanks or cut, replaces the line
//                    from the '?' over exactly that many characters; the scan
//                    goes on right after it
//   -1               the whole line is dropped
//   0-4, 22, 23      section codes: the line is not written and the code goes
//                    back to the report writer (with the database codes on,
//                    also 13, 15, 17, 19, 20, 21 and 25)
// A rest-of-line token keeps the text after it, moved to the token's place,
// when its condition holds (else the line is dropped); the length of that
// text is its width code, so a remaining text shorter than 5 characters acts
// as a section code. An unknown token prints its four characters and a
// blank. The line is written up to the later of its own end and the end of
// the last value, passed through the exponent tidy-up and ended with CR LF.
// At the end of the template one empty line is written.
//
// Lines longer than the buffer and values running past it are cut at 120
// characters; the first such cut of a template is reported once through the
// platform as a warning.
#pragma once

#include <climits>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_session.h"
#include "spectrum/dates.h"

namespace kestrim {

struct ReportSession;
class Platform;

inline constexpr int kTemplateLineLength = 120;

// Width codes with a fixed meaning.
inline constexpr int kDropLine = -1;
inline constexpr int kSectionEnd = 0;
inline constexpr int kSectionActivities = 1;
inline constexpr int kSectionLimits = 2;
inline constexpr int kSectionSecondLibrary = 3;
inline constexpr int kSectionCustom = 4;
inline constexpr int kSectionReference = 22;
inline constexpr int kSectionEndBlock = 23;

// What a token gives.
struct TokenValue {
  enum class Kind { kText, kRestOfLine };
  Kind kind = Kind::kText;
  std::string text;
  // Width code for kText (see above); kUseEntryWidth takes the table entry's.
  int width = kUseEntryWidth;
  // For kRestOfLine: keep the rest of the line (else the line is dropped).
  bool keep = false;

  static constexpr int kUseEntryWidth = INT_MIN;

  static TokenValue text_value(std::string s, int width = kUseEntryWidth) {
    TokenValue v;
    v.text = std::move(s);
    v.width = width;
    return v;
  }
  static TokenValue drop() { return code(kDropLine); }
  static TokenValue code(int c) {
    TokenValue v;
    v.width = c;
    return v;
  }
  static TokenValue rest_of_line(bool keep_rest) {
    TokenValue v;
    v.kind = Kind::kRestOfLine;
    v.keep = keep_rest;
    return v;
  }
};

// What the token functions read: the session state and the clock (fixed by
// tests, the system clock otherwise).
struct TokenContext {
  ReportSession state;
  DateTime now;
  explicit TokenContext(const ReportSession& s);
  TokenContext(const ReportSession& s, const DateTime& fixed_now) : state(s), now(fixed_now) {}
};

using TokenFunction = std::function<TokenValue(const TokenContext&)>;

struct TokenEntry {
  std::string name;  // three or four characters ("ISO", "END", "DCYD")
  int width;         // the usual width code of the token
  TokenFunction value;
};

// An ordered table of tokens. Later work replaces entries whose data did not
// exist when the table was made (identification results, limits, gain
// correction) with `set`.
class TokenTable {
 public:
  TokenTable() = default;
  explicit TokenTable(std::vector<TokenEntry> entries) : entries_(std::move(entries)) {}

  // Adds the entry, or replaces the one of the same name (case ignored).
  void set(TokenEntry entry);
  // The entry matching the four characters of a template token, or nullptr.
  // Names match ignoring case; a three-character name matches when the
  // fourth character is a blank or the line end ('\0').
  const TokenEntry* find(const char key[4]) const;
  const std::vector<TokenEntry>& entries() const { return entries_; }

 private:
  std::vector<TokenEntry> entries_;
};

// The two token tables of the reports: sample values (spectrum, analysis,
// calibration) and analysis parameters. Defined in report_tokens.cpp.
const TokenTable& sample_tokens();
const TokenTable& parameter_tokens();

// Runs one template over its lines.
class TemplateProcessor {
 public:
  // `name` is used in warnings; `ui` may be null (no warnings shown).
  TemplateProcessor(std::string text, std::string name, Platform* ui);

  // Lookup order; the default is sample tokens then parameter tokens.
  void set_tables(std::vector<const TokenTable*> tables) { tables_ = std::move(tables); }
  // Treat the widths 13, 15, 17, 19, 20, 21 and 25 as section codes too (the
  // database template).
  void set_database_codes(bool on) { database_codes_ = on; }

  // Appends substituted lines to `out` until a line gives a section code and
  // returns it; at the end of the template writes one empty line and
  // returns 0 (and 0 again, writing nothing, on later calls).
  int process(const TokenContext& ctx, std::string& out);

  // The next template line as it stands (without its line end, cut at 120
  // characters): the row format that follows a section token. False at the
  // end of the template.
  bool next_raw_line(std::string& line);

  bool finished() const { return finished_; }
  // Number of the last line read (1-based).
  int line_number() const { return line_number_; }
  // True once a cut was reported.
  bool warned() const { return warned_; }

 private:
  bool read_line(std::string& line);
  void warn(const std::string& text);
  bool is_section_code(int code) const;

  std::string text_;
  std::string name_;
  Platform* ui_;
  std::vector<const TokenTable*> tables_;
  std::size_t pos_ = 0;
  int line_number_ = 0;
  bool finished_ = false;
  bool warned_ = false;
  bool database_codes_ = false;
};

// Substitutes a whole template (the header report, the text-export header):
// section codes other than 0 are passed over, code 0 ends it. Returns the
// report text.
std::string substitute_template(const TokenContext& ctx, std::string text, std::string name,
                                Platform* ui);

}  // namespace kestrim
