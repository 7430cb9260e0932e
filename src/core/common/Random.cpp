#include "core/common/Random.h"

#include <chrono>
#include <mutex>
#include <random>

namespace sonabox {

namespace {
std::mutex generatorMutex;
std::mt19937 &Generator() {
  static std::mt19937 generator(
      static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
  return generator;
}
} // namespace

void SeedRandom() {
  const std::lock_guard lock(generatorMutex);
  Generator().seed(
      static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
}

int RandomInt(int range) {
  if (range <= 0) return 0;
  const std::lock_guard lock(generatorMutex);
  return std::uniform_int_distribution<int>(0, range - 1)(Generator());
}

} // namespace sonabox
