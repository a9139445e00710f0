// Test support: prints what the Linux voice is handed for the plain text on
// standard input, so that an end-to-end test can compare what a learner hears
// with what the page shows, numbers, units and letters written out alike.
#include <iostream>
#include <iterator>
#include <string>

#include "runtime/spoken_mandarin.h"

int main() {
  const std::string text{std::istreambuf_iterator<char>(std::cin),
                         std::istreambuf_iterator<char>()};
  std::cout << zandrel::mandarinSpokenText(text);
  return 0;
}
