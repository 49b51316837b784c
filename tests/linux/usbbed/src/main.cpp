// The main of test programs over the bed: they run under umockdev's preload
// library, started again under it when ctest or a shell starts them without.
#include <gtest/gtest.h>

#include "preload.h"

int main(int argc, char** argv)
{
    usbbed::EnsurePreload(argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
