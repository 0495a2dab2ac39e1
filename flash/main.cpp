#include "flash/lromup.h"

int main(int argc, char** argv) { return lromupMain(argc, argv); }
