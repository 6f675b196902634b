// kestrim-desktop: the interactive program. Start-up, passwords and the
// command line as the kestrim command has them, then the main window; a
// second start hands its command line to the running program and ends.
//
//   kestrim-desktop [/keyword[=value] ...]      the program's command line
//   kestrim-desktop --script FILE [--transcript FILE] [/keyword ...]
//       runs the lines of FILE (menu commands by id or name, "screenshot
//       NAME.png", answers for the questions and dialogs) and ends; every
//       message, status text and dialog goes to the transcript (stdout
//       when none is named).
#include <QApplication>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScreen>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/analysis.h"
#include "app/command_line.h"
#include "app/settings_bridge.h"
#include "app/startup.h"
#include "app/state.h"
#include "main_window.h"
#include "platform/c_locale.h"
#include "qt_platform.h"
#include "front_end_services.h"
#include "reports/template_reports.h"
#include "spectrum_plot.h"
#include "platform/files.h"

namespace {

using namespace kestrim;
using namespace kestrim::desktop;

// The name the running program listens under, one per user.
QString server_name() {
  const char* user = std::getenv("USER");
  return QString("kestrim-desktop-") + (user ? user : "user");
}

int usage(const std::string& error) {
  c_fprintf(stderr, "kestrim-desktop: %s\n", error.c_str());
  c_fprintf(stderr,
            "Usage: kestrim-desktop [/keyword[=value] ...]\n"
            "       kestrim-desktop --script FILE [--transcript FILE] [/keyword[=value] ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  // Numbers in files never follow the locale (platform/c_locale.h); Qt has
  // set the process locale from the environment for the messages.
  std::string script, transcript_path;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--script" && i + 1 < argc) {
      script = argv[++i];
    } else if (a == "--transcript" && i + 1 < argc) {
      transcript_path = argv[++i];
    } else if (a == "--help" || a == "-h") {
      usage("the interactive Kestrim program");
      return 0;
    } else if (a == "--version") {
      c_printf("kestrim-desktop %s\n", KESTRIM_VERSION);
      return 0;
    } else {
      args.push_back(a);
    }
  }
  std::vector<std::string> tokens;
  std::string error;
  if (!command_line_tokens(args, tokens, error)) return usage(error);

  // A second start hands its command line to the running program.
  if (script.empty()) {
    QLocalSocket socket;
    socket.connectToServer(server_name());
    if (socket.waitForConnected(300)) {
      std::string line;
      for (const std::string& t : tokens) line += (line.empty() ? "/" : " /") + t;
      socket.write(QByteArray::fromStdString(line));
      socket.flush();
      socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      return 0;
    }
  }

  QtPlatform ui;
  std::FILE* transcript = nullptr;
  if (!script.empty()) {
    transcript = transcript_path.empty() ? stdout : std::fopen(transcript_path.c_str(), "w");
    if (!transcript) return usage("cannot write " + transcript_path);
    ui.set_scripted(transcript);
  }
  State state(ui);
  // Reference fitting and (when built with unixODBC) the activity database,
  // as the kestrim command has them; declared after the State so that the
  // database connection closes first.
  kestrim::cli::FrontEndServices services;
  services.supply(state, true);
  QtReportPrinter printer;
  state.services.printer = &printer;
  state.paths = default_paths();
  MainWindow window(state, ui);
  printer.owner = &window;
  printer.ask = [&] { return !state.app.batch_mode && !ui.scripted(); };

  if (!initialise(state)) return 0;
  // A new working folder gets the shipped templates, so that the report
  // menus find them before the first analysis.
  seed_shipped_templates(state);
  window.start_timer();
  CommandLineResult parsed = parse_command_line(state, tokens);
  if (!parsed.ok || (state.app.batch_mode && parsed.refused)) return 0;
  window.plot().colours = read_colour_file(join_path(state.paths.working_dir, "COLOUR.INF"));
  remove_file(join_path(state.paths.working_dir, "Peak Database.csv"));

  // The stored window placement, or the whole screen when it is too small.
  const AnalysisParameters& p = state.params;
  if (p.window_width >= 500 && p.window_height > 0) {
    window.setGeometry(p.window_left, p.window_top, p.window_width, p.window_height);
  } else if (script.empty()) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) window.setGeometry(screen->availableGeometry());
  }
  if (!script.empty()) window.resize(1000, 720);
  const std::string title = std::string("Kestrim ") + ((p.mca_type & 6) != 0 ? "MCA and " : "") +
                            "Low Resolution Gamma Analysis software";
  window.setWindowTitle(QString::fromStdString(title));
  window.refresh();
  const bool show = !state.app.batch_mode || state.app.display_on;
  if (show) window.show();

  if (state.app.batch_mode) {
    int result = run_command_line_batch(state, parsed.save_requested, parsed.update_without_asking);
    if (result == 1 && !app_save_parameters(state)) result = 0;
    return result == 1 ? 0 : 1;
  }

  QLocalServer server;
  if (script.empty()) {
    QLocalServer::removeServer(server_name());
    server.listen(server_name());
    QObject::connect(&server, &QLocalServer::newConnection, &window, [&] {
      while (QLocalSocket* s = server.nextPendingConnection()) {
        QObject::connect(s, &QLocalSocket::disconnected, s, [s, &window] {
          const std::string text = s->readAll().toStdString();
          s->deleteLater();
          window.take_command_line(text);
        });
      }
    });
  }

  int status = 0;
  if (!script.empty()) {
    QTimer::singleShot(0, &window, [&] {
      status = window.run_script(script);
      QCoreApplication::exit(0);
    });
  }
  const int loop = app.exec();
  // Exit clean-up: the parameters, with the window's place, are kept for the
  // next start.
  if (script.empty() && !window.isMaximized() && !window.isFullScreen()) {
    const QRect g = window.geometry();
    state.params.window_left = g.x();
    state.params.window_top = g.y();
    state.params.window_width = g.width();
    state.params.window_height = g.height();
  }
  app_save_parameters(state);
  if (transcript && transcript != stdout) std::fclose(transcript);
  return script.empty() ? loop : status;
}
