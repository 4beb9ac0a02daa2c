// lumoraconf: registers the network scanners of the scanner backend.
#include "frontend/dispatch.h"

int main(int argc, char** argv) {
  lumora::dispatch_command(argc, argv);
  return 0;
}
