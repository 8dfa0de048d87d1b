// The search for the program's folder below the device root.
#include "common/globals.h"
#include "app/install_dir.h"
#include "app_test_env.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;

namespace {

std::string InstallDir() { return Utf16ToUtf8(AppGlobals.InstallDir); }

TEST(InstallDir, FoundBelowTheRootWithOneTrailingBackslash) {
  ProgramSandbox box;
  box.MakeFolder("Program Files/Vantrel");
  box.MakeFolder("Windows/Fonts");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "Program Files\\Vantrel\\");
}

TEST(InstallDir, RootLevelFolderIsNotTakenButADeeperOneIs) {
  ProgramSandbox box;
  box.MakeFolder("Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "");

  // The root's own Vantrel is still walked, so one inside it is found.
  box.MakeFolder("Vantrel/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "Vantrel\\Vantrel\\");
}

TEST(InstallDir, NameComparedExactlyAndFilesIgnored) {
  ProgramSandbox box;
  box.MakeFolder("opt/vantrel");
  box.Put("usr/Vantrel", "a file, not a folder");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "");
  box.MakeFolder("srv/deep/er/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "srv\\deep\\er\\Vantrel\\");
}

TEST(InstallDir, BreadthFirstTakesTheShallowestFolder) {
  ProgramSandbox box;
  box.MakeFolder("a/b/c/Vantrel");
  box.MakeFolder("z/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "z\\Vantrel\\");
}

TEST(InstallDir, UnlistableRootStopsStartUp) {
  ProgramSandbox box;
  setenv("VANTREL_ROOT", (box.path() + "/missing").c_str(), 1);
  EXPECT_FALSE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "");
}

TEST(InstallDir, FullListStillRecognisesEntriesOfListedFolders) {
  ProgramSandbox box;
  // "a" and 150 folders inside it: the list fills up at 100 while "a" is
  // walked, but the rest of a's entries are still compared, so a Vantrel
  // among them is found whatever order the listing gives.
  for (int i = 0; i < 150; ++i)
    box.MakeFolder("a/f" + std::to_string(i));
  box.MakeFolder("a/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "a\\Vantrel\\");
}

TEST(InstallDir, FolderBeyondAFullListIsNotFound) {
  ProgramSandbox box;
  // Each of the 150 folders holds x\Vantrel: reaching it needs x listed,
  // which no longer fits once the f folders have filled the list.
  for (int i = 0; i < 150; ++i)
    box.MakeFolder("a/f" + std::to_string(i) + "/x/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "");
}

TEST(InstallDir, PathsTooLongAreSkippedNotCut) {
  ProgramSandbox box;
  // 5 x 60 characters: deeper than 259 characters.
  std::string deep;
  for (int i = 0; i < 5; ++i)
    deep += (deep.empty() ? "" : "/") + std::string(60, static_cast<char>('a' + i));
  box.MakeFolder(deep + "/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "");
  // A shorter one elsewhere is still found.
  box.MakeFolder("zz/Vantrel");
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), "zz\\Vantrel\\");
}

// A system-wide install's data folder (VANTREL_SYSTEM_DATA_DIR, the
// package's /usr/share/vantrel) is taken before the search when it is there
// below the device root, and only then.
TEST(InstallDir, SystemDataFolderComesBeforeTheSearch) {
  const std::string system = Utf16ToUtf8(SystemDataDir());
  ASSERT_FALSE(system.empty()) << "the build names no system data folder";
  EXPECT_NE(system[0], '/') << "a device path has no leading slash";
  std::string expected = system + "\\";
  for (char &c : expected)
    c = c == '/' ? '\\' : c;

  {
    ProgramSandbox box;
    box.MakeFolder("a/Vantrel");
    // Not there, or a file of that name: the search as before.
    ASSERT_TRUE(FindInstallDir());
    EXPECT_EQ(InstallDir(), "a\\Vantrel\\");
    box.Put(system, "a file, not a folder");
    ASSERT_TRUE(FindInstallDir());
    EXPECT_EQ(InstallDir(), "a\\Vantrel\\");
  }
  ProgramSandbox installed;
  installed.MakeFolder("a/Vantrel");
  installed.MakeFolder(system);
  ASSERT_TRUE(FindInstallDir());
  EXPECT_EQ(InstallDir(), expected);
}

TEST(InstallDir, DataFolderTakenOnlyWhenItIsAFolderThatFits) {
  ProgramSandbox box;
  box.MakeFolder("usr/share/x");
  box.Put("usr/share/file", "text");
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"before\\");

  EXPECT_FALSE(TakeDataDir(u""));
  EXPECT_FALSE(TakeDataDir(u"usr/share/missing"));
  EXPECT_FALSE(TakeDataDir(u"usr/share/file"));
  // One unit short of room for the trailing backslash and the terminator.
  const std::string part(129, 'x');
  box.MakeFolder(part + "/" + part);
  EXPECT_FALSE(TakeDataDir(Utf8ToUtf16(part + "/" + part).c_str()));
  EXPECT_EQ(InstallDir(), "before\\") << "a refused folder leaves InstallDir alone";

  // Either separator; InstallDir always ends in one backslash.
  ASSERT_TRUE(TakeDataDir(u"usr/share/x"));
  EXPECT_EQ(InstallDir(), "usr\\share\\x\\");
  AppGlobals.InstallDir[0] = 0;
  ASSERT_TRUE(TakeDataDir(u"usr\\share\\x"));
  EXPECT_EQ(InstallDir(), "usr\\share\\x\\");
}

} // namespace
