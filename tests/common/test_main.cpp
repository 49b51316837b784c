#include <gtest/gtest.h>

#include <cstdio>

#include "vdev_shim.h"

int main(int argc, char** argv)
{
    if (!VdevShimInstall()) {
        std::fprintf(stderr, "pipe-name shim could not be installed\n");
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
