#include <cstdio>

int main() {
  std::puts("kelvor-cli");
  return 0;
}
