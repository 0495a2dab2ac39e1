#include "sim/tool/options.h"

int main(int argc, char** argv) { return simToolMain(argc, argv); }
