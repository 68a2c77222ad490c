#include "tool/cli/cli.h"

int main(int argc, char** argv) { return tallyburn::tool::RunTool(argc, argv); }
