// The program's entry point: the command line, the quit signals, the desktop
// toolkit and the resources, then the program's life from start-up (which
// starts choosing the key-injection backend once the data folder is found)
// to its end.
#include "app/command_line.h"
#include "app/inject_host.h"
#include "app/instance.h"
#include "app/shutdown.h"
#include "app/startup.h"
#include "platform/qt_app.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/tray.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "resources/resources.h"

#include <cstdio>

namespace {

// The module's instance handle: any stable token; resources are the
// program's own whatever it is.
char gModule;

} // namespace

int main(int argc, char **argv) {
  CommandLine options;
  if (int status = ParseCommandLine(argc, argv, options))
    return status;
  if (options.help) {
    fputs(HelpText(), stdout);
    return 0;
  }
  if (options.version) {
    fputs(VersionText(), stdout);
    return 0;
  }

  // Before any thread starts (the toolkit may start some): quit signals
  // wait for the program's watcher instead of ending it on the spot.
  BlockQuitSignals();
  if (!VantrelQtInit(argc, argv))
    fprintf(stderr, "vantrel: no display could be opened; running without a window "
                    "(QT_QPA_PLATFORM=offscreen runs without one on purpose)\n");
  if (options.quit) {
    UnblockQuitSignals();
    if (AskRunningInstanceToQuit())
      return 0;
    fprintf(stderr, "vantrel: no Vantrel is running\n");
    return 1;
  }
  RegisterVantrelResources();
  InstallInjectHost();
  if (options.connect)
    RequestConnectAtStart();

  // Started hidden (at login), the window waits behind the tray icon;
  // without a tray it shows, or nothing would bring it up.
  int show = SW_SHOW;
  if (options.hidden) {
    if (TrayIconAvailable())
      show = SW_HIDE;
    else
      NKDbgPrintfW(u"--hidden: the desktop has no system tray; the window shows\r\n");
  }

  WatchQuitSignals();
  return RunVantrel(reinterpret_cast<HINSTANCE>(&gModule), show);
}
