// Files over device paths: the root mapping, the ".." refusal, reading and
// writing, and directory listing.
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/threads.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
protected:
  void SetUp() override { tmp_.Use(testsupport::kDeviceRoot); }
  void TearDown() override { unsetenv("VANTREL_ROOT"); }
  void Put(const std::string &relative, const std::string &content) { tmp_.Put(relative, content); }
  testsupport::TempRoot tmp_{"files"};
  const std::string root_ = tmp_.path();
};

TEST_F(FilesTest, DevicePathsMapBelowTheRoot) {
  EXPECT_EQ(HostPathFor(u"\\Program Files\\Vantrel\\English.lang"),
            root_ + "/Program Files/Vantrel/English.lang");
  EXPECT_EQ(HostPathFor(u"a\\\\b\\.\\c"), root_ + "/a/b/c");
  unsetenv("VANTREL_ROOT");
  EXPECT_EQ(HostPathFor(u"etc\\hosts"), "/etc/hosts");
}

TEST_F(FilesTest, ParentComponentsAreRefused) {
  Put("inside/x.txt", "x");
  for (const WCHAR *path : {u"..\\etc\\passwd", u"inside\\..\\..\\x", u"inside/../x.txt", u".."}) {
    EXPECT_EQ(HostPathFor(path), "");
    SetLastError(0);
    EXPECT_EQ(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
  }
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"inside\\..\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileW(u"inside\\..\\inside\\x.txt"));
  EXPECT_TRUE(fs::exists(root_ + "/inside/x.txt"));
}

TEST_F(FilesTest, WriteReadAndDelete) {
  fs::create_directories(root_ + "/dir");
  HANDLE h = CreateFileW(u"\\dir\\f.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "hello\0world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h)); // a closed handle stays invalid
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  h = CreateFileW(u"dir\\f.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[64];
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), std::string("hello\0world", 11));
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr)); // end of file: 0 bytes
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
  EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, nullptr));

  EXPECT_EQ(GetFileAttributesW(u"dir"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(CreateFileW(u"dir", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileW(u"dir\\f.bin"));
  EXPECT_EQ(GetFileAttributesW(u"dir\\f.bin"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(CreateFileW(u"dir\\f.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, ListingGivesFoldersAndFilesButNeverDotEntries) {
  Put("Program Files/Vantrel/English.lang", "x");
  Put("Program Files/Vantrel/Fran\xC3\xA7" "ais.lang", "x");
  Put("Program Files/Vantrel/US.kcod", "x");
  fs::create_directories(root_ + "/Program Files/Vantrel/sub");

  std::set<std::u16string> names, folders;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(u"Program Files\\Vantrel\\*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do {
    names.insert(data.cFileName);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      folders.insert(data.cFileName);
  } while (FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(names, (std::set<std::u16string>{u"English.lang", u"Fran\u00e7ais.lang", u"US.kcod",
                                             u"sub"}));
  EXPECT_EQ(folders, std::set<std::u16string>{u"sub"});

  names.clear();
  h = FindFirstFileW(u"\\Program Files\\Vantrel\\*.LANG", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do
    names.insert(data.cFileName);
  while (FindNextFileW(h, &data));
  FindClose(h);
  EXPECT_EQ(names, (std::set<std::u16string>{u"English.lang", u"Fran\u00e7ais.lang"}));

  // The root itself, with the bare pattern.
  h = FindFirstFileW(u"*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"Program Files");
  EXPECT_FALSE(FindNextFileW(h, &data));
  FindClose(h);

  EXPECT_EQ(FindFirstFileW(u"Program Files\\Vantrel\\sub\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileW(u"Missing\\*", &data), INVALID_HANDLE_VALUE);
}

TEST_F(FilesTest, MissingComPortFails) {
  setenv("VANTREL_DEVICES", root_.c_str(), 1); // an empty device folder
  EXPECT_EQ(CreateFileW(u"COM7:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{};
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_FALSE(GetCommTimeouts(event, &timeouts)); // not a port
  CloseHandle(event);
  unsetenv("VANTREL_DEVICES");
}

} // namespace
