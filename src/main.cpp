// mlfsort: writes a sorted copy of a master label file beside it.

#include "platform/platform.h"
#include "process/process_frame.h"
#include "run/sort_run.h"

int main(int argc, char** argv) {
  mlfsort::Platform& platform = mlfsort::SystemPlatform(argc, argv);
  return mlfsort::RunProcess(platform, mlfsort::SystemModules(),
                             &mlfsort::RunSort);
}
