#include "support/wait.h"

#include <chrono>
#include <thread>

bool waitUntil(const std::function<bool()>& condition, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Only a pause between two looks: the condition decides, not the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
