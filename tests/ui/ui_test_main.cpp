// main() for tests that show windows: this thread is the UI thread.
#include <gtest/gtest.h>

#include "platform/ui/test_driver.h"

int main(int argc, char** argv) {
    return uitest::RunUi(argc, argv, [&] {
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    });
}
