#include "sim/tool_options.h"

int main(int argc, char** argv) { return simToolMain(argc, argv); }
