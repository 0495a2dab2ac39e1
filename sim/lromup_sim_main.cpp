#include "sim/sim_tool.h"

int main(int argc, char** argv) { return simToolMain(argc, argv); }
