// The main of every GoogleTest executable here. The process takes the C
// locale its environment names (LC_ALL, LC_NUMERIC, LANG), as an application
// that embeds the host may do: under LC_ALL=de_DE.UTF-8 (the CTest
// suite_under_german_locale) anything that reads or writes numbers through
// the locale shows up as a failure.
#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // System error texts (strerror, dlerror) would come in the locale's
  // language; the tests compare them in English.
  std::setlocale(LC_MESSAGES, "C");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
