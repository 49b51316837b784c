// The tool's run, from a command line in UTF-8 to its exit code.
#pragma once

namespace cli {

int Main(int argc, char** argv);

}  // namespace cli
