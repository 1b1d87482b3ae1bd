#include "driver/run.h"

int main(int argc, char** argv) {
  return qrvdiff::runQrvdiff(argc, argv);
}
