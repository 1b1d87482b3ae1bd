#include "base/platform.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  const qrvdiff::ProgramArguments arguments(argc, argv);
  return qrvdiff::runQrvdiff(arguments.count(), arguments.words());
}
