// Entry of the tests that make widgets: a QApplication on the platform that the
// environment names (offscreen in ctest).
#include <QApplication>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C"); // libmpv needs the C numeric locale
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
