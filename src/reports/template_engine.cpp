#include "reports/template_engine.h"

#include <cctype>

#include "platform/platform.h"
#include "platform/c_format.h"

namespace kestrim {

TokenContext::TokenContext(const ReportSession& s) : state(s), now(now_date_time()) {}

namespace {

char fold(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool is_terminator(char c) { return c == '\0' || c == '\r' || c == '\n'; }

}  // namespace

void TokenTable::set(TokenEntry entry) {
  for (TokenEntry& e : entries_)
    if (same_name(e.name, entry.name)) {
      e = std::move(entry);
      return;
    }
  entries_.push_back(std::move(entry));
}

const TokenEntry* TokenTable::find(const char key[4]) const {
  for (const TokenEntry& e : entries_) {
    std::size_t n = e.name.size();
    if (n == 0 || n > 4) continue;
    bool match = true;
    for (std::size_t i = 0; i < n && match; ++i) match = fold(key[i]) == fold(e.name[i]);
    if (match && n == 3) match = key[3] == ' ' || is_terminator(key[3]);
    if (match) return &e;
  }
  return nullptr;
}

TemplateProcessor::TemplateProcessor(std::string text, std::string name, Platform* ui)
    : text_(std::move(text)), name_(std::move(name)), ui_(ui),
      tables_{&sample_tokens(), &parameter_tokens()} {}

bool TemplateProcessor::is_section_code(int code) const {
  if ((code >= 0 && code <= 4) || code == kSectionReference || code == kSectionEndBlock) return true;
  if (!database_codes_) return false;
  return code == 13 || code == 15 || code == 17 || code == 19 || code == 20 || code == 21 ||
         code == 25;
}

void TemplateProcessor::warn(const std::string& text) {
  if (warned_) return;
  warned_ = true;
  if (ui_) ui_->message_box(text, "Report template", kMsgWarning);
}

// One line up to LF (a CR before it is dropped, a NUL ends the line's text),
// cut at the buffer length with a warning.
bool TemplateProcessor::read_line(std::string& line) {
  if (pos_ >= text_.size()) return false;
  std::size_t end = text_.find('\n', pos_);
  if (end == std::string::npos) end = text_.size();
  line.assign(text_, pos_, end - pos_);
  pos_ = end < text_.size() ? end + 1 : end;
  ++line_number_;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::size_t nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  if (line.size() > static_cast<std::size_t>(kTemplateLineLength)) {
    warn("Line " + std::to_string(line_number_) + " of the template " + name_ +
         " is longer than 120 characters and was cut");
    line.resize(kTemplateLineLength);
  }
  return true;
}

bool TemplateProcessor::next_raw_line(std::string& line) {
  if (finished_) return false;
  return read_line(line);
}

int TemplateProcessor::process(const TokenContext& ctx, std::string& out) {
  if (finished_) return kSectionEnd;
  std::string line;
  while (read_line(line)) {
    const int length = static_cast<int>(line.size());
    std::string buf(kTemplateLineLength, ' ');
    buf.replace(0, line.size(), line);
    int end = length;  // where the written line is cut
    bool dropped = false;
    int i = 0;
    while (i < end && i < length) {
      if (buf[i] != '?') {
        ++i;
        continue;
      }
      // The four characters after '?'; past the template line's end they
      // are terminators.
      char key[4];
      for (int k = 0; k < 4; ++k) {
        int at = i + 1 + k;
        key[k] = at < length ? buf[at] : '\0';
      }
      TokenValue value;
      int width = 5;
      const TokenEntry* entry = nullptr;
      for (const TokenTable* table : tables_)
        if ((entry = table->find(key)) != nullptr) break;
      if (entry) {
        value = entry->value(ctx);
        width = value.width == TokenValue::kUseEntryWidth ? entry->width : value.width;
      } else {
        // Unknown: its own four characters and a blank.
        for (char c : key) value.text += is_terminator(c) ? ' ' : c;
        value.text += ' ';
        width = 5;
      }
      if (value.kind == TokenValue::Kind::kRestOfLine) {
        if (!value.keep) {
          dropped = true;
          break;
        }
        int from = i + 5 < length ? i + 5 : length;
        value.text = buf.substr(from, length - from);
        width = static_cast<int>(value.text.size());
      }
      if (is_section_code(width)) return width;
      if (width < 5) {  // -1 and any other negative: the line is dropped
        dropped = true;
        break;
      }
      // Write the value over `width` characters from the '?'.
      int room = kTemplateLineLength - i;
      if (width > room)
        warn("Line " + std::to_string(line_number_) + " of the template " + name_ +
             " has a value that runs past 120 characters; it was cut");
      int n = width < room ? width : room;
      for (int k = 0; k < n; ++k) {
        char c = k < static_cast<int>(value.text.size()) ? value.text[k] : ' ';
        buf[i + k] = is_terminator(c) ? ' ' : c;
      }
      if (value.kind == TokenValue::Kind::kRestOfLine)
        end = i + n;  // the line ends where the moved text ends
      else if (i + n > end)
        end = i + n;
      i += n;
      if (value.kind == TokenValue::Kind::kRestOfLine) break;
    }
    if (dropped) continue;
    out += tidy_exponents(std::string_view(buf).substr(0, static_cast<std::size_t>(end)));
    out += "\r\n";
  }
  finished_ = true;
  out += "\r\n";
  return kSectionEnd;
}

std::string substitute_template(const TokenContext& ctx, std::string text, std::string name,
                                Platform* ui) {
  TemplateProcessor proc(std::move(text), std::move(name), ui);
  std::string out;
  while (proc.process(ctx, out) != kSectionEnd) {
  }
  return out;
}

}  // namespace kestrim
