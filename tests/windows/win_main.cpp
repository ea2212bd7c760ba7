// Test output as UTF-8 bytes, as the Linux suite prints it.
#include <gtest/gtest.h>

#include "util/console.h"

int main(int argc, char** argv) {
    tunavox::PrepareConsole();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
