#include <gtest/gtest.h>

#include "check/check.h"
#include "platform/platform.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  BindPlatform();
  BindCheckPlatform();
  return RUN_ALL_TESTS();
}
