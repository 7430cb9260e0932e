// Entry of the widget-free tests: a QCoreApplication, so that workers can hand
// their results to the main thread's event loop.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
