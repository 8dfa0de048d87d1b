// Runs the key scenarios in tests/keys/scenarios/*.txt. Each file starts with
// the layout codes its scenarios share; each scenario ("== title") types
// keys and lists the calls that must come out, in full and in order, the
// modes afterwards and trace lines that must appear. Grammar, one item a line:
//
//   table <scancode> <column>=<code> ...   layout codes (file-wide before the
//                                          first scenario, else this one only)
//   keys <key> ...       scancodes, or shift caps ctrl alt altgr
//   call <call>          one expected call, as recording_injector.h names it
//   mode <typingMode> <modifierKey>
//   trace <line>         a trace line, expected after the previous one
//   tracecount <n> <line>
#include "tests/keys/keys_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace keytest {
namespace {

struct TableEntry {
  int scancode, column, code;
};

struct Scenario {
  std::string name; // file stem and title, for the test name
  std::string where; // file and line, for failures
  std::vector<TableEntry> table;
  std::vector<int> keys;
  std::vector<std::string> calls;
  std::string mode; // empty: not checked
  std::vector<std::string> traces;
  std::vector<std::pair<int, std::string>> traceCounts;
};

// Failures name the scenario rather than dumping its bytes.
void PrintTo(const Scenario &s, std::ostream *os) { *os << s.where; }

const std::map<std::string, int> kModeNames = {
    {"NORMALMODE", NORMALMODE}, {"SHIFTMODE", SHIFTMODE}, {"CAPSMODE", CAPSMODE},
    {"CTRLMODE", CTRLMODE},     {"ALTCHMODE", ALTCHMODE}, {"ALTGRMODE", ALTGRMODE},
    {"ACCENTMODE", ACCENTMODE}};

std::string modeName(int32_t mode) {
  for (const auto &[name, value] : kModeNames)
    if (value == mode)
      return name;
  return std::to_string(mode);
}

int keyOf(const std::string &word) {
  static const std::map<std::string, int> names = {
      {"shift", 2}, {"caps", 3}, {"ctrl", 112}, {"alt", 113}, {"altgr", 114}};
  auto it = names.find(word);
  return it != names.end() ? it->second : std::stoi(word);
}

std::string testName(const std::string &text) {
  std::string out;
  for (char c : text)
    out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out;
}

std::vector<Scenario> loadScenarios() {
  std::vector<Scenario> all;
  std::vector<std::filesystem::path> files;
  for (const auto &entry :
       std::filesystem::directory_iterator(VANTREL_SOURCE_DIR "/tests/keys/scenarios"))
    if (entry.path().extension() == ".txt")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  for (const auto &path : files) {
    std::ifstream in(path);
    std::vector<TableEntry> shared;
    Scenario *current = nullptr;
    std::vector<Scenario> fromFile;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
      ++lineNo;
      std::istringstream words(line);
      std::string word;
      if (!(words >> word) || word[0] == '#')
        continue;
      std::string rest;
      std::getline(words >> std::ws, rest);
      if (word == "==") {
        fromFile.push_back(Scenario{});
        current = &fromFile.back();
        current->name = testName(path.stem().string() + "_" + rest);
        current->where = path.filename().string() + ":" + std::to_string(lineNo) + " " + rest;
        current->table = shared;
      } else if (word == "table") {
        std::istringstream cells(rest);
        int scancode;
        cells >> scancode;
        std::string cell;
        while (cells >> cell) {
          const size_t eq = cell.find('=');
          TableEntry e{scancode, std::stoi(cell.substr(0, eq)), std::stoi(cell.substr(eq + 1))};
          (current ? current->table : shared).push_back(e);
        }
      } else if (current && word == "keys") {
        std::istringstream keys(rest);
        std::string key;
        while (keys >> key)
          current->keys.push_back(keyOf(key));
      } else if (current && word == "call") {
        current->calls.push_back(rest);
      } else if (current && word == "mode") {
        current->mode = rest;
      } else if (current && word == "trace") {
        current->traces.push_back(rest);
      } else if (current && word == "tracecount") {
        std::istringstream count(rest);
        int n;
        count >> n;
        std::string text;
        std::getline(count >> std::ws, text);
        current->traceCounts.emplace_back(n, text);
      } else {
        ADD_FAILURE() << path.filename() << ":" << lineNo << ": cannot read: " << line;
      }
    }
    all.insert(all.end(), fromFile.begin(), fromFile.end());
  }
  return all;
}

class ScenarioTest : public KeysTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ScenarioTest, Runs) {
  const Scenario &s = GetParam();
  SCOPED_TRACE(s.where);
  for (const TableEntry &e : s.table)
    AppGlobals.KeycodeTable[e.scancode][e.column] = e.code;

  type(s.keys);

  EXPECT_EQ(injector.described(), s.calls);
  if (!s.mode.empty()) {
    EXPECT_EQ(modeName(AppGlobals.typingMode) + " " + modeName(AppGlobals.modifierKey), s.mode);
  }
  const std::vector<std::string> traces = this->traces();
  size_t from = 0;
  for (const std::string &want : s.traces) {
    auto it = std::find(traces.begin() + from, traces.end(), want);
    if (it == traces.end()) {
      ADD_FAILURE() << "trace missing (in this order): " << want;
      break;
    }
    from = static_cast<size_t>(it - traces.begin()) + 1;
  }
  for (const auto &[n, text] : s.traceCounts)
    EXPECT_EQ(countTrace(text), n) << text;
}

INSTANTIATE_TEST_SUITE_P(Keys, ScenarioTest, ::testing::ValuesIn(loadScenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                           return info.param.name;
                         });

} // namespace
} // namespace keytest
