#include "summary/summary_run.h"

int main(int argc, char** argv) {
  return qrvdiff::summary::runSummary(argc, argv);
}
