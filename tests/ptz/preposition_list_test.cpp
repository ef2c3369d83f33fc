// The preset list against a scripted head: what it asks the head, and what it reports when the
// head refuses. The preset file is a real one in a directory of the test's own.
#include "ptz/preposition_list.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "foundation/event.h"
#include "foundation/text_conversion.h"
#include "support/fake_driver.h"
#include "vantrel/ipcapture/ptz_driver.h"

namespace vantrel {
namespace {

class ScriptedHead : public IPrepositionComm {
 public:
  bool StorePreset(uint32_t index) override { return Record("store", index, acceptStore); }
  bool GoToPreset(uint32_t index, int32_t) override {
    if (hangGoTo) {
      inGoTo.Set();
      release.Wait(10000);
    }
    return Record("goto", index, acceptGoTo);
  }
  bool ClearPreset(uint32_t index) override { return Record("clear", index, acceptClear); }
  std::string GetCameraAddress() override { return "127.0.0.60"; }
  std::string GetHostDirectory() override { return hostDirectory; }

  bool Record(const char* what, uint32_t index, bool accept) {
    calls.push_back(std::string(what) + " " + std::to_string(index));
    return accept;
  }

  bool acceptStore = true, acceptGoTo = true, acceptClear = true;
  // A head that takes its time: GoToPreset waits for `release`.
  std::atomic<bool> hangGoTo{false};
  CManualEvent inGoTo, release;
  std::string hostDirectory = "C:\\nowhere\\";
  std::vector<std::string> calls;
};

class PrepositionListTest : public ::testing::Test {
 protected:
  void SetUp() override { list_.SetComm(&head_, 4); }

  testing::FakeDriver driver_;
  ScriptedHead head_;
  CPrepositionList list_{&driver_, 0};
};

TEST_F(PrepositionListTest, HeadRefusalsAreReportedAndChangeNothing) {
  head_.acceptStore = false;
  EXPECT_EQ(list_.AddPreposition(L"Door"), kPTZNotOpen);
  EXPECT_EQ(list_.GetPrepositionCount(), 0u);

  head_.acceptStore = true;
  EXPECT_EQ(list_.AddPreposition(L"Door"), kPTZSuccess);
  list_.ClearCurrentPosition();
  head_.acceptGoTo = false;
  EXPECT_FALSE(list_.GoToPreposition(L"Door", 0));
  EXPECT_FALSE(list_.GetCurrentPreposition().has_value());

  // A preset the head kept must not be reported as removed.
  head_.acceptClear = false;
  EXPECT_EQ(list_.RemovePreposition(L"Door"), kPTZNotOpen);
  EXPECT_EQ(list_.GetPrepositionCount(), 1u);
  head_.acceptClear = true;
  EXPECT_EQ(list_.RemovePreposition(L"Door"), kPTZSuccess);
  EXPECT_EQ(list_.RemovePreposition(L"Door"), kPTZPresetNotFound);
  EXPECT_EQ(head_.calls, (std::vector<std::string>{"store 0", "store 0", "goto 0", "clear 0", "clear 0"}));
}

TEST_F(PrepositionListTest, SlotsAreReusedLowestFirstAndRenamesWithoutFileStoreAgain) {
  for (const wchar_t* name : {L"A", L"B", L"C"}) {
    ASSERT_EQ(list_.AddPreposition(name), kPTZSuccess);
    list_.ClearCurrentPosition();
  }
  ASSERT_EQ(list_.RemovePreposition(L"B"), kPTZSuccess);
  ASSERT_EQ(list_.AddPreposition(L"D"), kPTZSuccess);  // takes slot 1 again, becomes current
  EXPECT_EQ(list_.AddPreposition(L"E"), kPTZSuccess);  // renames D on the head
  EXPECT_EQ(list_.GetPrepositionName(2), std::optional<std::wstring>(L"E"));
  EXPECT_EQ(head_.calls.back(), "store 1");
  list_.ClearCurrentPosition();
  ASSERT_EQ(list_.AddPreposition(L"F"), kPTZSuccess);
  list_.ClearCurrentPosition();
  EXPECT_EQ(list_.AddPreposition(L"G"), kPTZNoFreePreset);
  EXPECT_TRUE(
      driver_.HasLine(1,
                      "vantrel::CPrepositionList::AddPreposition: A preposition \"G\" cannot be added. "
                      "Max preposition count is 4"));
  EXPECT_EQ(list_.GoToPreposition(L"", 0), false);
}

TEST_F(PrepositionListTest, WithoutHeadNothingIsAccepted) {
  list_.SetComm(nullptr, 4);
  EXPECT_EQ(list_.AddPreposition(L"Door"), kPTZNotOpen);
  EXPECT_EQ(list_.RemovePreposition(L"Door"), kPTZPresetNotFound);
  EXPECT_FALSE(list_.GoToPreposition(L"Door", 0));
  EXPECT_EQ(list_.GetPrepositionCount(), 0u);
}

TEST_F(PrepositionListTest, HandEditedFileKeepsOnlyUsableEntries) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof(dir), dir);
  const std::string path = std::string(dir) + "lumivar_preposition_list_test.preset";
  std::ofstream(path, std::ios::trunc)
      << "<?xml version='1.0'?><Bosch><PtzChannel01>"
         "<Preposition000><Name value='Ok'/><Slot value='2'/></Preposition000>"
         "<Preposition001><Name value='Negative'/><Slot value='-1'/></Preposition001>"
         "<Preposition002><Name value='Twice'/><Slot value='2'/></Preposition002>"
         "<Preposition003><Name value=''/><Slot value='3'/></Preposition003>"
         "<Preposition004><Slot value='0'/></Preposition004>"
         "<Preposition005><Name value='Hex'/><Slot value='0x1'/></Preposition005>"
         "</PtzChannel01></Bosch>";
  TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader("Bosch"));
  ASSERT_TRUE(store->Open(path));
  list_.AttachStore(store);
  ASSERT_EQ(list_.GetPrepositionCount(), 1u);
  EXPECT_EQ(list_.GetPrepositionName(0), std::optional<std::wstring>(L"Ok"));
  // A new preset may not take the slot the file already gives "Ok".
  EXPECT_EQ(list_.AddPreposition(L"New"), kPTZSuccess);
  EXPECT_EQ(head_.calls.back(), "store 0");
  DeleteFileA(path.c_str());
}

TEST_F(PrepositionListTest, ASlowHeadDoesNotHoldTheListForOtherCalls) {
  ASSERT_EQ(list_.AddPreposition(L"Door"), kPTZSuccess);
  list_.ClearCurrentPosition();
  head_.hangGoTo = true;
  std::thread recall([&] { EXPECT_TRUE(list_.GoToPreposition(L"Door", 0)); });
  ASSERT_TRUE(head_.inGoTo.Wait(5000));
  // Another host thread reads the list while the head is still busy.
  const DWORD start = GetTickCount();
  EXPECT_EQ(list_.GetPrepositionCount(), 1u);
  EXPECT_EQ(list_.GetPrepositionName(0), std::optional<std::wstring>(L"Door"));
  EXPECT_LT(GetTickCount() - start, 1000u);
  head_.release.Set();
  recall.join();
  EXPECT_EQ(list_.GetCurrentPreposition(), std::optional<std::wstring>(L"Door"));
}

std::string TempPath(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof(dir), dir);
  return std::string(dir) + name;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(PrepositionListTest, PresetsKeepTheirFilePositionsAndBrokenEntriesAreNeverOverwritten) {
  const std::string path = TempPath("lumivar_preposition_positions_test.preset");
  std::ofstream(path, std::ios::trunc)
      << "<?xml version='1.0'?><Bosch><PtzChannel01>"
         "<Preposition000><Name value='Door'/><Slot value='0'/></Preposition000>"
         "<Preposition001><Name value='Broken'/><Slot value='x'/></Preposition001>"
         "<Preposition002><Name value='Yard'/><Slot value='2'/></Preposition002>"
         "</PtzChannel01></Bosch>";
  auto attach = [&](CPrepositionList& list) {
    TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader("Bosch"));
    ASSERT_TRUE(store->Open(path));
    list.AttachStore(store);
  };
  attach(list_);
  ASSERT_EQ(list_.GetPrepositionCount(), 2u);
  // List position 2, slot 1 (the lowest free one) and the first file position nothing uses.
  ASSERT_EQ(list_.AddPreposition(L"New"), kPTZSuccess);
  ASSERT_EQ(list_.AddPreposition(L"Renamed"), kPTZSuccess);  // the current one, at its own place
  list_.ClearCurrentPosition();
  ASSERT_TRUE(list_.GoToPreposition(L"Yard", 0));
  ASSERT_EQ(list_.AddPreposition(L"Garden"), kPTZSuccess);  // renames Yard
  ASSERT_EQ(list_.RemovePreposition(L"Door"), kPTZSuccess);
  const std::string file = ReadWhole(path);
  EXPECT_NE(file.find("Broken"), std::string::npos) << file;
  EXPECT_EQ(file.find("Preposition000"), std::string::npos) << "only the removed preset's entry goes";

  CPrepositionList reloaded(&driver_, 0);
  reloaded.SetComm(&head_, 4);
  attach(reloaded);
  ASSERT_EQ(reloaded.GetPrepositionCount(), 2u);
  head_.calls.clear();
  for (const wchar_t* name : {L"Garden", L"Renamed"}) {
    EXPECT_TRUE(reloaded.GoToPreposition(name, 0)) << WideToUtf8(name);
  }
  EXPECT_EQ(head_.calls, (std::vector<std::string>{"goto 2", "goto 1"}));
  DeleteFileA(path.c_str());
}

TEST_F(PrepositionListTest, AFileThatCannotBeWrittenFailsTheAddAndIsLoggedOncePerRun) {
  TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader("Bosch"));
  ASSERT_FALSE(store->Open(TempPath("no_such_directory_lumivar\\x.preset")));
  list_.AttachStore(store);
  EXPECT_EQ(list_.AddPreposition(L"Door"), kPTZNotOpen);
  EXPECT_EQ(list_.AddPreposition(L"Gate"), kPTZNotOpen) << "the rename cannot be saved either";
  list_.ClearCurrentPosition();
  EXPECT_EQ(list_.AddPreposition(L"Yard"), kPTZNotOpen);
  int lines = 0;
  for (const auto& line : driver_.Lines()) lines += line.text.find("could not be saved") != std::string::npos;
  EXPECT_EQ(lines, 1);
}

TEST_F(PrepositionListTest, OlderFileNumbersAreTheHeadsOwnPresetNumbers) {
  const std::string dir = TempPath("lumivar_older_presets\\");
  CreateDirectoryA(dir.c_str(), nullptr);
  head_.hostDirectory = dir;
  std::ofstream(dir + CPrepositionList::kOlderFileName, std::ios::trunc)
      << "<?xml version='1.0'?><settings><cameras><camera><IPAddress value='127.0.0.60'/><positions>"
         "<PrePos1><Name value='One'/><BoschID value='1'/></PrePos1>"
         "<PrePos2><Name value='Two'/><BoschID value='2'/></PrePos2>"
         "<PrePos3><Name value='Three'/><BoschID value='3'/></PrePos3>"
         "</positions></camera></cameras></settings>";
  ASSERT_EQ(list_.GetPrepositionCount(), 3u);
  for (const wchar_t* name : {L"One", L"Two", L"Three"}) EXPECT_TRUE(list_.GoToPreposition(name, 0));
  list_.ClearCurrentPosition();
  EXPECT_EQ(list_.AddPreposition(L"Four"), kPTZSuccess);
  // Slots count from 0: the head's presets 1, 2, 3 are slots 0, 1, 2, and the next free is 3.
  EXPECT_EQ(head_.calls, (std::vector<std::string>{"goto 0", "goto 1", "goto 2", "store 3"}));
  DeleteFileA((dir + CPrepositionList::kOlderFileName).c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace vantrel
