// KolvarineCheck.exe: reads Kolvarine.cfg as the module does and tells the
// pilot what the module will use and what it will ignore.
#include <windows.h>

int main() {
  return 0;
}
