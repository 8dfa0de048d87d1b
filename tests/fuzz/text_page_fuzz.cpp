// A text page: the input is the text file's bytes, read by ReadTextPage into
// a page of exactly its size.
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "dialogs/text_page.h"

#include <vector>

int FuzzTextPage(const uint8_t *data, size_t size) {
  fuzz::ResetGlobals();
  fuzz::WriteInstallFile("PDA_Hottips.txt", data, size);
  WCHAR path[MAX_PATH];
  InstallDirPath(path, u"PDA_Hottips.txt");
  std::vector<WCHAR> page(kTextPageUnits, 0x4141);
  fuzz::Require(ReadTextPage(path, page.data()) == 0, "an existing page is read");
  fuzz::Require(page[kTextPageUnits - 1] == 0, "the page ends inside its buffer");
  return 0;
}
