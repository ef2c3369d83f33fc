#include "control/xml_settings_api.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "control/tobrin_file_base.h"
#include "control/xml_parser.h"

namespace vantrel {
namespace {

// A fresh directory under the Windows temp directory for each test.
class XmlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "lumivar_xml_" + std::to_string(GetCurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::string& f : written_) DeleteFileA(f.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Write(const std::string& name, const std::string& content) {
    std::string path = dir_ + "\\" + name;
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (!content.empty()) WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
    written_.push_back(path);
    return path;
  }
  std::string Path(const std::string& name) {
    written_.push_back(dir_ + "\\" + name);
    return dir_ + "\\" + name;
  }

  std::string dir_;
  std::vector<std::string> written_;
};

TEST_F(XmlFileTest, SettingsRoundTripThroughAFile) {
  Path("presets.xml");
  {
    CXMLSettingsAPI doc(dir_);  // base directory without a trailing backslash
    ASSERT_EQ(doc.CreateFile("presets.xml", "Bosch"), 1);
    EXPECT_TRUE(doc.SetValue("Bosch/PtzChannel01/Preposition000/Name", "Entrance"));
    EXPECT_TRUE(doc.SetValueW("/Bosch/PtzChannel01/Preposition001/Name", L"Caf\u00e9 \u00dcbersicht"));
    EXPECT_TRUE(doc.SetValue("Bosch/PtzChannel01/Preposition001/Slot", "7"));
    EXPECT_TRUE(doc.SetValue("Bosch/PtzChannel02/Preposition000/Name", "<&\"quoted'>"));
    EXPECT_TRUE(doc.IsChanged());
    ASSERT_EQ(doc.Save(), S_OK);
    EXPECT_FALSE(doc.IsChanged());
  }
  CXMLSettingsAPI doc(dir_ + "\\");
  ASSERT_EQ(doc.LoadFile("presets.xml"), S_OK);
  EXPECT_EQ(doc.GetFilePath(), dir_ + "\\presets.xml");
  EXPECT_EQ(doc.GetValue("Bosch/PtzChannel01/Preposition000/Name"), "Entrance");
  EXPECT_EQ(doc.GetValueW("Bosch/PtzChannel01/Preposition001/Name"), L"Caf\u00e9 \u00dcbersicht");
  EXPECT_EQ(doc.GetValue("Bosch/PtzChannel01/Preposition001/Slot"), "7");
  EXPECT_EQ(doc.GetValue("Bosch/PtzChannel02/Preposition000/Name"), "<&\"quoted'>");
  EXPECT_EQ(doc.GetValue("Bosch/PtzChannel03/Preposition000/Name"), "");
  // Overwriting keeps one element per path.
  EXPECT_TRUE(doc.SetValue("Bosch/PtzChannel01/Preposition001/Slot", "8"));
  EXPECT_TRUE(doc.RemoveNode("Bosch/PtzChannel02"));
  EXPECT_FALSE(doc.RemoveNode("Bosch/PtzChannel02"));
  ASSERT_EQ(doc.Save(), S_OK);

  CXMLSettingsAPI again;
  ASSERT_EQ(again.LoadFile((dir_ + "\\presets.xml").c_str()), S_OK);  // absolute names are used as given
  EXPECT_EQ(again.GetValue("Bosch/PtzChannel01/Preposition001/Slot"), "8");
  EXPECT_FALSE(again.NodeExists("Bosch/PtzChannel02"));
  EXPECT_TRUE(again.NodeExists("Bosch/PtzChannel01/Preposition000"));
}

TEST_F(XmlFileTest, LoadFileRefusesUnusableFiles) {
  Write("empty.xml", "");
  Write("broken.xml", "<Bosch><PtzChannel01></Bosch>");
  CXMLSettingsAPI doc(dir_);
  EXPECT_EQ(doc.LoadFile(nullptr), static_cast<HRESULT>(0x80070057));
  for (const char* name : {"missing.xml", "empty.xml", "broken.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(FAILED(doc.LoadFile(name)));
    EXPECT_FALSE(doc.IsLoaded());
    EXPECT_FALSE(doc.NodeExists("Bosch"));
    EXPECT_TRUE(FAILED(doc.Save()));
  }
}

TEST_F(XmlFileTest, FileCheckAllowsWritersAndRejectsEmptyFiles) {
  const std::string full = Write("full.txt", "x");
  const std::string empty = Write("empty.txt", "");
  EXPECT_TRUE(CTobrinFileBase::ExistsAndNotEmpty(full));
  EXPECT_FALSE(CTobrinFileBase::ExistsAndNotEmpty(empty));
  EXPECT_FALSE(CTobrinFileBase::ExistsAndNotEmpty(dir_ + "\\none.txt"));
  EXPECT_FALSE(CTobrinFileBase::ExistsAndNotEmpty(""));
  // Another process may hold the file open for writing while we check it.
  HANDLE writer =
      CreateFileA(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  CTobrinFileBase file;
  EXPECT_TRUE(file.Open(full));
  EXPECT_EQ(file.GetSize(), 1u);
  CloseHandle(writer);
}

TEST_F(XmlFileTest, ParserReadsAttributesByXPath) {
  const std::string path = Write("BoschIP_PTZ.xml",
                                 "<?xml version='1.0'?><PTZ><Camera id='1'><Preset BoschID='3' Name='Door'/>"
                                 "<Preset BoschID='4' Name='Yard'/></Camera></PTZ>");
  CXMLParser parser;
  EXPECT_FALSE(parser.Load(dir_ + "\\nothing.xml"));
  ASSERT_TRUE(parser.Load(path));
  EXPECT_TRUE(parser.NodeExists("PTZ/Camera[@id='1']/Preset[@BoschID='4']"));
  EXPECT_FALSE(parser.NodeExists("PTZ/Camera[@id='2']"));
  EXPECT_EQ(parser.GetAttribute("PTZ/Camera[@id='1']/Preset[@BoschID='4']", "Name"), "Yard");
  EXPECT_EQ(parser.GetAttribute("PTZ/Camera/Preset", "Name"), "Door");
  EXPECT_EQ(parser.GetAttribute("PTZ/Camera/Preset", "Missing"), "");
  EXPECT_FALSE(parser.NodeExists("PTZ/Camera[@id="));  // bad XPath is "not there", not a fault
}

TEST(XmlSettingsTest, ReplyTextByPath) {
  CXMLSettingsAPI doc;
  ASSERT_EQ(doc.LoadXml("<rcp><command><hex>0x0a9c</hex></command><result><hex>0x1f</hex><dec> 31 </dec>"
                        "<str>0a 1b ff</str><err>0x0A</err></result></rcp>"),
            S_OK);
  EXPECT_TRUE(doc.IsLoaded());
  EXPECT_EQ(doc.GetText("rcp/result/hex"), "0x1f");
  EXPECT_EQ(doc.GetText("rcp/result/str"), "0a 1b ff");
  EXPECT_EQ(doc.GetText("rcp/result/err"), "0x0A");
  EXPECT_TRUE(doc.NodeExists("rcp/result/dec"));
  EXPECT_FALSE(doc.NodeExists("rcp/result/missing"));
  EXPECT_EQ(doc.GetText("rcp/result/missing"), "");
  // A reply document has no file to go back to.
  EXPECT_TRUE(FAILED(doc.Save()));
}

TEST(XmlSettingsTest, RepliesAreReadInTheEncodingTheyDeclare) {
  const struct {
    const char* declaration;
    std::string name;  // as the camera sent it
  } cases[] = {
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
       "Caf\xe9 \xc4u\xdf"
       "en"},
      {"<?xml version='1.0' encoding='windows-1252'?>",
       "Caf\xe9 \xc4u\xdf"
       "en"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
       "Caf\xc3\xa9 \xc3\x84u\xc3\x9f"
       "en"},
      {"",
       "Caf\xc3\xa9 \xc3\x84u\xc3\x9f"
       "en"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.declaration);
    CXMLSettingsAPI doc;
    ASSERT_EQ(
        doc.LoadXml(std::string(c.declaration) + "<rcp><result><str>" + c.name + "</str></result></rcp>"),
        S_OK);
    EXPECT_EQ(doc.GetText("rcp/result/str"),
              "Caf\xc3\xa9 \xc3\x84u\xc3\x9f"
              "en");  // UTF-8 for the host
  }
}

TEST(XmlSettingsTest, HostileRepliesAreRefusedOrHarmless) {
  std::string deep = "<rcp>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  deep += "</rcp>";
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 31));
  const std::string withNul =
      std::string("<rcp><result><str>ab", 20) + std::string(1, '\0') + "cd</str></result></rcp>";
  const std::string cases[] = {
      "",
      "<rcp><result><hex>0x1f</hex></result>",  // truncated
      "<rcp><result></rcp></result>",           // crossed tags
      "not xml at all",
      "<?xml version='1.0' encoding='bogus'?><rcp/>",
      deep,
      binary,
      withNul,
      std::string("<rcp>") + std::string(2000000, 'x') + "</rcp>",
      "<!DOCTYPE r [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
      "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]><r>&d;</r>",
      "<!DOCTYPE r [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><r>&x;</r>",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    CXMLSettingsAPI doc;
    HRESULT hr = doc.LoadXml(text);
    EXPECT_EQ(doc.IsLoaded(), hr == S_OK);
    if (hr != S_OK) {
      EXPECT_FALSE(doc.NodeExists("rcp"));
    }
    // Whatever was accepted, reading it is safe and never reaches outside the document.
    EXPECT_EQ(doc.GetText("r").find("root:"), std::string::npos);
    doc.GetText("rcp/result/str");
  }
  // A failed parse leaves no trace of the document before it.
  CXMLSettingsAPI doc;
  ASSERT_EQ(doc.LoadXml("<rcp><result/></rcp>"), S_OK);
  EXPECT_TRUE(FAILED(doc.LoadXml("<rcp>")));
  EXPECT_FALSE(doc.NodeExists("rcp/result"));
}

TEST(XmlSettingsTest, SetValueCreatesOnlyWhatAPathCanName) {
  CXMLSettingsAPI doc;
  ASSERT_EQ(doc.LoadXml("<Configuration><Device address='10.0.0.1' port='80'/></Configuration>"), S_OK);
  EXPECT_TRUE(doc.SetValue("Configuration/Device[@address='10.0.0.1'][@port='80']/PTZ", "on"));
  EXPECT_EQ(doc.GetValue("Configuration/Device/PTZ"), "on");
  // A predicate picks a node; it cannot say how to make a missing one.
  EXPECT_FALSE(doc.SetValue("Configuration/Device[@address='10.0.0.2']/PTZ", "off"));
  // The document has one root.
  EXPECT_FALSE(doc.SetValue("Other/Value", "1"));
  EXPECT_FALSE(doc.SetValue("", "1"));
  EXPECT_FALSE(doc.SetValue("Configuration/bad name", "1"));

  CXMLSettingsAPI blank;
  EXPECT_TRUE(blank.SetValue("Root/Child", "v"));
  EXPECT_EQ(blank.GetValue("Root/Child"), "v");
}

TEST(XmlSettingsTest, SharedDocumentAcrossThreads) {
  CXMLSettingsAPI doc;
  ASSERT_EQ(doc.LoadXml("<Bosch/>"), S_OK);
  constexpr int kThreads = 4;
  constexpr int kValues = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&doc, t] {
      for (int i = 0; i < kValues; ++i) {
        const std::string path = "Bosch/PtzChannel0" + std::to_string(t) + "/P" + std::to_string(i);
        doc.SetValue(path, std::to_string(t * 1000 + i));
        doc.GetValue(path);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kValues; ++i) {
      ASSERT_EQ(doc.GetValue("Bosch/PtzChannel0" + std::to_string(t) + "/P" + std::to_string(i)),
                std::to_string(t * 1000 + i));
    }
  }
}

}  // namespace
}  // namespace vantrel
