// The program's entry point: with no argument the window opens; with
// arguments ketch runs headless (see Headless.h).
#include "shell/app/Headless.h"
#include "shell/app/mMain.h"

int main(int argc, char** argv) {
  if (argc > 1) return ketch::RunHeadless(argc, argv);
  return ketch::SubMain(argc, argv);
}
