// The window tests share one application object on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/sandbox.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  // As the program does: decoders fork from a zygote made before the toolkit's threads.
  const kestrel::SandboxZygoteHold zygote;
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
