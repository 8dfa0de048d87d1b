// Both program threads and the vantrel-reg tool use the database at once;
// no call may fail and no write may be lost.
#include "common/settings_store.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/registry/registry_test_support.h"
#include "tests/support/scripted_message_boxes.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

class ConcurrencyTest : public RegistryTest {};

// One program thread: its own values, a shared one, a key made and deleted.
void Worker(int id, int rounds, std::atomic<int> *failures) {
  std::u16string own = u"thread" + Utf8ToUtf16(std::to_string(id));
  std::u16string sub = u"Software\\Vantrel\\Scratch" + Utf8ToUtf16(std::to_string(id));
  for (int i = 0; i < rounds; ++i) {
    SettingsStore::WriteDword(own.c_str(), i);
    if (SettingsStore::ReadDword(own.c_str(), -1) != i)
      ++*failures;
    SettingsStore::ReadDword(u"Shared", 5);
    SettingsStore::WriteDword(u"Shared", i);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
      ++*failures;
      continue;
    }
    DWORD v = i;
    if (RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4) != ERROR_SUCCESS)
      ++*failures;
    RegCloseKey(key);
    if (i % 10 == 9 && RegDeleteKeyW(HKEY_LOCAL_MACHINE, sub.c_str()) != ERROR_SUCCESS)
      ++*failures;
  }
}

TEST_F(ConcurrencyTest, TwoThreadsAndTheToolAtOnce) {
  // Make the file first, so the tool and the threads share it from the start.
  SettingsStore::ReadDword(u"Keyclicks", 1);
  testsupport::ScriptedMessageBoxes boxes;
  std::atomic<int> failures{0};
  std::atomic<bool> threadsDone{false};
  std::vector<std::string> toolErrors;
  std::thread tool([&] {
    for (int i = 0; !threadsDone || i < 10; ++i) {
      std::string name = "tool" + std::to_string(i % 5);
      ToolResult set = RunTool({"set", "HKLM\\Software\\Vantrel", name, "--dword",
                                std::to_string(i)},
                               DbPath());
      ToolResult get = RunTool({"get", "HKLM\\Software\\Vantrel", name}, DbPath());
      if (set.status != 0)
        toolErrors.push_back("set: " + set.err);
      else if (get.status != 0 || get.out != name + "\tREG_DWORD\t" + std::to_string(i) + "\n")
        toolErrors.push_back("get: " + get.out + get.err);
      if (i > 200)
        break;
    }
  });
  std::thread a(Worker, 1, 300, &failures);
  std::thread b(Worker, 2, 300, &failures);
  a.join();
  b.join();
  threadsDone = true;
  tool.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_TRUE(toolErrors.empty()) << toolErrors.size() << " tool failures, first: "
                                  << (toolErrors.empty() ? "" : toolErrors[0]);
  EXPECT_EQ(SettingsStore::ReadDword(u"thread1", -1), 299);
  EXPECT_EQ(SettingsStore::ReadDword(u"thread2", -1), 299);
  // A write that met the tool's lock for too long waits in memory; it is
  // written by the next try.
  EXPECT_TRUE(RegistryFlush(5000));
  EXPECT_FALSE(RegistryGetStatus().inMemory);
}

} // namespace
