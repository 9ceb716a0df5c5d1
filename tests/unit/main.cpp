#include <gtest/gtest.h>

#include "platform/platform.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  BindPlatform();
  return RUN_ALL_TESTS();
}
