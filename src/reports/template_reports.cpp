#include "reports/template_reports.h"
#include "platform/text_encoding.h"

#include <cstdint>
#include <vector>

#include "reports/report_session.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "reports/template_engine.h"

namespace kestrim {
namespace {

// Templates are small text files; anything larger is not one.
constexpr std::size_t kMaxTemplateBytes = 1u << 20;

int write_report(const ReportSession& state, const std::string& template_name, const std::string& template_text,
                 const std::string& report_name) {
  TokenContext ctx(state);
  std::string out = text_as_utf8(substitute_template(ctx, template_text, template_name, state.ui));
  std::string path = join_path(state.paths.working_dir, report_name);
  std::string error;
  if (!write_text_atomic(path, out, &error, state.paths.write_faults)) {
    state.ui->message_box("Error Creating:- " + path, "", kMsgError);
    return 0;
  }
  return 1;
}

}  // namespace

bool read_template(const ReportSession& state, const std::string& name, std::string& text) {
  std::string path = resolve_path(join_path(state.paths.working_dir, name));
  if (!file_exists(path)) return false;
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes, kMaxTemplateBytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  return true;
}

int write_header_report(const ReportSession& state) {
  std::string text;
  if (!read_template(state, "Header Report.tpl", text)) return 0;
  return write_report(state, "Header Report.tpl", text, "Header Report.txt");
}

int write_parameter_report(const ReportSession& state) {
  std::string text;
  if (!read_template(state, "Analysis Params.tpl", text)) {
    state.ui->message_box("Could not find the template file:- Analysis Params.tpl", "", kMsgError);
    return 0;
  }
  return write_report(state, "Analysis Params.tpl", text, "Analysis Params.txt");
}

int seed_shipped_templates(const ReportSession& state) {
  if (state.paths.program_dir.empty() || state.paths.working_dir.empty()) return 0;
  const std::string shipped = resolve_path(join_path(state.paths.program_dir, "Templates"));
  std::vector<std::string> names;
  for (const std::string& name : list_directory(shipped))
    if (!name.empty() && name[0] != '.') names.push_back(name);
  for (const std::string& name : names)
    if (file_exists(resolve_path(join_path(state.paths.working_dir, name)))) return 0;
  int copied = 0;
  for (const std::string& name : names) {
    std::vector<std::uint8_t> bytes;
    if (!read_file(join_path(shipped, name), bytes, 1u << 20)) continue;
    if (write_file_atomic(join_path(state.paths.working_dir, name), bytes)) ++copied;
  }
  return copied;
}

}  // namespace kestrim
