// The program's entry point: with no argument the window opens; with
// arguments ketch runs headless (see Headless.h); `ketch lsp` is the
// language server (LspServer.h).
#include <cstdio>
#include <cstring>

#include "shell/app/Headless.h"
#include "shell/app/LspServer.h"
#include "shell/app/mMain.h"
#include "shell/EndSignals.h"
#include "shell/mError.h"

int main(int argc, char** argv) {
  // Before any thread: the signals are the watch's alone.
  ketch::WatchEndSignals();
  ketch::EndOnUncaughtExceptions();
  if (argc > 1 && std::strcmp(argv[1], "lsp") == 0) {
    if (argc == 2) return ketch::RunLsp();
    std::fprintf(stderr, "ketch: 'lsp' takes no arguments: it speaks on standard input and output\n");
    return 1;
  }
  if (argc > 1) return ketch::RunHeadless(argc, argv);
  return ketch::SubMain(argc, argv);
}
