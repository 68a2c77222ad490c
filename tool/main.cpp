#include "tool/cli.h"

int main(int argc, char** argv) { return tallyburn::tool::RunTool(argc, argv); }
