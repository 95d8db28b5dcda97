// Prints the decorated names the vendor binding looks up, one a line.
#include <cstdio>

#include "card/vendor.h"

int main() {
  std::size_t count = 0;
  const VendorEntryName* names = VendorEntryNames(&count);
  for (std::size_t i = 0; i < count; ++i) {
    std::puts(names[i].decorated);
  }
  return 0;
}
