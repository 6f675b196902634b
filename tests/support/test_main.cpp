// The tests' main: the process takes the locale of its environment, as a
// desktop program does, so that running the tests under a locale with a
// decimal comma shows any number that follows it.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const char* taken = std::setlocale(LC_ALL, "");
  // A run that asks for a locale must get it, or it proves nothing.
  if (const char* wanted = std::getenv("KESTRIM_REQUIRE_LOCALE")) {
    if (taken == nullptr || std::strcmp(std::localeconv()->decimal_point, ",") != 0) {
      std::fprintf(stderr, "locale %s is not installed or has no decimal comma\n", wanted);
      return 1;
    }
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
