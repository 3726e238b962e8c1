/* A host linked against the installed library. */
#include <ogmdecaps/ogmdecaps.h>
#include <stdio.h>

int main(void) {
  ReaderFunctions table;
  void* result = 0;
  const char16_t missing[] = {'/', 'n', 'o', '.', 'o', 'g', 'm', 0};
  if (InitializeReader(&table) != &table || table.alwaysTrue() != 1) return 1;
  /* The plug-in beside the installed library is found and refuses the file. */
  if (AVIDecaps_Open(missing, 0, 0, &result) != 0 || result != 0) return 1;
  puts("consumer ok");
  return 0;
}
