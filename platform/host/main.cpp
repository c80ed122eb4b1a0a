#include "app.h"

int main(int argc, char** argv) {
  return RunTdsdecode(argc, argv);
}
