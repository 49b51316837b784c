// The command line comes as the bytes the shell gave, UTF-8 on any system
// set up for it.
#include "main.h"

int main(int argc, char** argv)
{
    return cli::Main(argc, argv);
}
