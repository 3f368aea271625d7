#include "config/tervix_model.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config/mib_module.h"
#include "config/model_test_fixture.h"
#include "platform/file.h"
#include "store/store.h"

namespace tervane::config::testing {
namespace {

TEST(FixedEntries, TrapNumbersCountsAndTypes) {
  const std::vector<std::string>& numbers = FixedEntries(ListKind::kTrapNewNumber);
  ASSERT_EQ(numbers.size(), 30u);
  EXPECT_EQ(numbers.front(), "1000");
  EXPECT_EQ(numbers.back(), "3900");
  EXPECT_EQ(FixedEntries(ListKind::kTrapNewVarNo).back(), "14");
  EXPECT_EQ(FixedEntries(ListKind::kVarType),
            (std::vector<std::string>{"Integer32", "DisplayString", "OBJECT IDENTIFIER",
                                      "IpAddress", "Counter32", "Gauge32", "TimeTicks"}));
}

TEST_F(ModelTest, StartsOnTheFirstDefinitionOrEmptyAndFailsWithoutADatabase) {
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  EXPECT_EQ(model_->page(), kPageTraps);
  EXPECT_FALSE(model_->showing());
  EXPECT_EQ(model_->usable_rows(), 0);
  EXPECT_EQ(model_->general().TrapRecvPort, "162");

  AddRows({"linkDown", "linkUp"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  EXPECT_EQ(model_->trap_names(), (std::vector<std::string>{"linkDown", "linkUp"}));
  EXPECT_EQ(model_->selected(), 0);
  EXPECT_EQ(model_->definition().TrapOID, "1.3.6.1.4.1.9.0.linkDown");
  EXPECT_EQ(model_->usable_rows(), 3);

  fs::remove(folder_ + "/Tervix.mdb");
  Result<std::unique_ptr<TervixModel>> missing = TervixModel::Open(folder_, dialogs_);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.status().description().find("Tervix.mdb"), std::string::npos);
}

TEST_F(ModelTest, EditsAreStoredAtEachCommitPointAndOnlyWhatChanged) {
  AddRows({"linkDown", "linkUp"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  // A definition edit is stored when another definition is selected.
  Type({FieldKind::kTrapOID}, "1.3.6.1.4.1.9.0.7");
  ASSERT_TRUE(model_->lbxTrapName_Click(1));
  EXPECT_EQ(Rows()[0].ByName("TrapOID"), store::Value("1.3.6.1.4.1.9.0.7"));
  // ... and when page 1 is selected; numbers are stored as numbers.
  Type({FieldKind::kVarChar, 2}, "8");
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(Rows()[1].Var(2, store::VarField::kChar), store::Value(8));
  // Merely showing a row changed nothing else: the text column stays text.
  EXPECT_EQ(Rows()[1].ByName("TrapOID"), store::Value("1.3.6.1.4.1.9.0.linkUp"));

  // Page 1 shows what the service wrote meanwhile; a commit of the page writes only the
  // columns the user changed, never the service's status or the address it bound.
  ASSERT_TRUE(Db().WriteSettings({{"TrapRecvStatus", store::Value("Trap Server Started")},
                                  {"TrapRecvIpAddr", store::Value("10.0.0.5")}})
                  .ok());
  ASSERT_TRUE(model_->tab1_Click(kPageService));
  EXPECT_EQ(model_->service_page().view().lblInfo, "The service is not installed.");
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(model_->general().TrapRecvStatus, "Trap Server Started");
  EXPECT_EQ(model_->general().TrapRecvIpAddr, "10.0.0.5");
  Type({FieldKind::kTrapForwPort}, "2162");
  model_->SetDebugMode(true);
  ASSERT_TRUE(Db().WriteSettings({{"TrapRecvStatus", store::Value("Not Started")},
                                  {"TrapRecvIpAddr", store::Value("0.0.0.0")}})
                  .ok());
  ASSERT_TRUE(model_->tab1_Click(kPageTraps));
  store::SettingsRow row = Settings();
  EXPECT_EQ(row.ByName("TrapForwPort"), store::Value(2162));
  EXPECT_EQ(row.ByName("DebugMode"), store::Value(1));
  EXPECT_EQ(row.ByName("TrapRecvStatus"), store::Value("Not Started"));
  EXPECT_EQ(row.ByName("TrapRecvIpAddr"), store::Value("0.0.0.0"));
  // Page 0 shows the first definition again.
  EXPECT_EQ(model_->selected(), 0);

  // Exit stores both rows.
  Type({FieldKind::kVarName, 1}, "ifIndex");
  EXPECT_TRUE(model_->cmdExit_Click());
  EXPECT_EQ(Rows()[0].Var(1, store::VarField::kName), store::Value("ifIndex"));
  EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages[0];
}

TEST_F(ModelTest, AddingFollowsTheLimitNamesAndDefaults) {
  std::vector<std::string> names;
  for (int i = 1; i <= 28; ++i) names.push_back("trap" + std::to_string(i));
  names.emplace_back(
      "\xC3\xBC"
      "berTrap");  // überTrap
  AddRows(names);
  ASSERT_NO_FATAL_FAILURE(OpenModel());

  struct Case {
    std::optional<std::string> typed;  // nothing: cancelled
    std::vector<std::string> messages;
  };
  const Case refused[] = {
      {std::nullopt, {}},
      {"", {}},
      {"TRAP7", {"Tervane: The name already exists in the database."}},
      // Other letters than ASCII's have their case too: ÜberTrap.
      {"\xC3\x9C"
       "berTrap",
       {"Tervane: The name already exists in the database."}},
  };
  ASSERT_TRUE(model_->lbxTrapName_Click(4));
  for (const Case& c : refused) {
    dialogs_.names.push_back(c.typed);
    model_->cmdAdd_Click();
    EXPECT_EQ(dialogs_.TakeMessages(), c.messages);
    EXPECT_EQ(model_->trap_names().size(), 29u);
    EXPECT_EQ(model_->selected(), 0);  // the first definition is shown again
  }

  dialogs_.names.emplace_back("Trap7x");
  model_->cmdAdd_Click();
  ASSERT_EQ(model_->trap_names().size(), 30u);
  EXPECT_EQ(model_->selected(), 29);
  const DefinitionFields& d = model_->definition();
  EXPECT_EQ(d.TrapOID, "");
  EXPECT_EQ(d.TrapSourceVarNo, "1");
  EXPECT_EQ(d.TrapNewNumber, "1000");
  EXPECT_EQ(d.TrapNewVarNo, "3");
  EXPECT_EQ(model_->usable_rows(), 3);
  for (int i = 1; i <= kVarRows; ++i) {
    EXPECT_EQ(d.vars[i].VarName, "var" + std::to_string(i));
    EXPECT_EQ(d.vars[i].VarPos, "1");
    EXPECT_EQ(d.vars[i].VarChar, "0");
    EXPECT_EQ(d.vars[i].VarType, "DisplayString");
  }
  EXPECT_EQ(model_->TakeFocusRequest(), Field{FieldKind::kTrapOID});
  // Leaving the empty Trap OID fills it.
  model_->FieldEntered({FieldKind::kTrapOID});
  model_->FieldLeft({FieldKind::kTrapOID});
  EXPECT_EQ(d.TrapOID, "1.3.6.1.4.1.");

  dialogs_.names.emplace_back("another");
  model_->cmdAdd_Click();
  EXPECT_EQ(dialogs_.TakeMessages(),
            std::vector<std::string>{"Tervix: Max 30 Traps Can Be Defined."});
  EXPECT_EQ(dialogs_.names.size(), 1u);  // the dialog did not open
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  ASSERT_EQ(Rows().size(), 30u);
  EXPECT_EQ(Rows()[29].ByName("TrapOID"), store::Value("1.3.6.1.4.1."));
}

TEST_F(ModelTest, RemovingAskesAndShowsTheFirstOrTheEmptyPage) {
  AddRows({"a", "b"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(model_->lbxTrapName_Click(1));
  dialogs_.answers = {false};
  model_->cmdRemove_Click();
  EXPECT_EQ(Rows().size(), 2u);
  EXPECT_EQ(dialogs_.TakeMessages(),
            std::vector<std::string>{"Tervane? Are you sure you want to remove the Trap?\r\n\r\n"});
  dialogs_.answers = {true, true};
  model_->cmdRemove_Click();
  EXPECT_EQ(model_->trap_names(), std::vector<std::string>{"a"});
  EXPECT_EQ(model_->selected(), 0);
  model_->cmdRemove_Click();
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(model_->showing());
  EXPECT_EQ(model_->definition().TrapNewVarNo, "");
  EXPECT_EQ(model_->usable_rows(), 0);
}

TEST_F(ModelTest, FewerNewVariablesKeepTheHiddenRowsAndOddStoredValuesStay) {
  AddRows({"a"});
  ASSERT_TRUE(Db().UpdateTrap(Rows()[0].rowid(), "a",
                              {{"TrapNewNumber", store::Value(1050)},
                               {"VarType5", store::Value("integer32")}})
                  .ok());
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  model_->cboTrapNewVarNo_Click("14");
  EXPECT_EQ(model_->usable_rows(), 14);
  Type({FieldKind::kVarName, 12}, "twelve");
  model_->cboTrapNewVarNo_Click("1");
  EXPECT_EQ(model_->usable_rows(), 1);
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  const store::TrapRow row = Rows()[0];
  EXPECT_EQ(row.ByName("TrapNewVarNo"), store::Value(1));
  EXPECT_EQ(row.Var(12, store::VarField::kName), store::Value("twelve"));
  // A value that is none of its list's entries is shown as one more and left as it is.
  EXPECT_EQ(model_->Entries(ListKind::kTrapNewNumber).back(), "1050");
  EXPECT_EQ(model_->Entries(ListKind::kTrapNewNumber).size(), 31u);
  EXPECT_EQ(model_->Entries(ListKind::kVarType, 5).back(), "integer32");
  EXPECT_EQ(model_->Entries(ListKind::kVarType, 4).size(), 7u);
  EXPECT_EQ(row.ByName("TrapNewNumber"), store::Value(1050));
  EXPECT_EQ(row.Var(5, store::VarField::kType), store::Value("integer32"));
}

TEST_F(ModelTest, LeavingAFieldAppliesItsRule) {
  AddRows({"a"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  struct Case {
    Field field;
    std::string typed;
    std::string shown;
    bool warns;
  };
  const Case cases[] = {
      {{FieldKind::kTrapOID}, "", "1.3.6.1.4.1.", false},
      {{FieldKind::kTrapOID}, "x", "x", false},
      {{FieldKind::kVarPos, 2}, "0", "1", false},
      {{FieldKind::kVarPos, 2}, "-4", "1", false},
      {{FieldKind::kVarPos, 2}, "", "1", false},
      {{FieldKind::kVarPos, 2}, "abc", "1", false},
      {{FieldKind::kVarPos, 2}, "2.5", "2.5", false},
      {{FieldKind::kVarPos, 2}, " 7x", " 7x", false},
      {{FieldKind::kVarChar, 3}, "", "0", false},
      {{FieldKind::kVarChar, 3}, "-2", "-2", false},
      {{FieldKind::kVarName, 4}, "ifIndex", "ifIndex", false},
      {{FieldKind::kVarName, 4}, "IfIndex", "IfIndex", true},
      {{FieldKind::kVarName, 4}, "9lives", "9lives", true},
      {{FieldKind::kVarName, 4}, "_x", "_x", true},
      {{FieldKind::kVarName, 4}, "", "", true},
      {{FieldKind::kTrapSourceVarNo}, "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.typed + "\"");
    Type(c.field, c.typed);
    EXPECT_EQ(model_->Text(c.field), c.shown);
    EXPECT_EQ(dialogs_.TakeMessages(),
              c.warns
                  ? std::vector<std::string>{"Tervix: Fist Character Must Be A Lowercase Letter"}
                  : std::vector<std::string>{});
  }
  // A commit runs the rule of the field that still has the focus (clicking a tab does not
  // move it), and leaving the field afterwards does not run it again.
  Type({FieldKind::kVarPos, 2}, "2");
  Type({FieldKind::kVarChar, 3}, "0");
  Type({FieldKind::kTrapSourceVarNo}, "1");
  model_->FieldEntered({FieldKind::kVarName, 1});
  model_->SetText({FieldKind::kVarName, 1}, "Bad");
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  model_->FieldLeft({FieldKind::kVarName, 1});
  EXPECT_EQ(dialogs_.TakeMessages().size(), 1u);
  ASSERT_TRUE(model_->tab1_Click(kPageTraps));
  model_->FieldEntered({FieldKind::kVarChar, 1});
  model_->SetText({FieldKind::kVarChar, 1}, "");
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(Rows()[0].Var(1, store::VarField::kChar), store::Value(0));
  EXPECT_TRUE(dialogs_.TakeMessages().empty());
  model_->AddNewNameLeft("Upper");
  model_->AddNewNameLeft("lower");
  EXPECT_EQ(dialogs_.TakeMessages(),
            std::vector<std::string>{"Tervix: Fist Character Must Be A Lowercase Letter"});
}

TEST_F(ModelTest, PiecesAreMarkedInBytesOfTheSample) {
  AddRows({"a"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  struct Case {
    std::string sample;  // UTF-8
    int start;           // in UTF-16 units, as the text widget counts
    int length;
    std::string pos;
    std::string chars;
  };
  const Case cases[] = {
      {"PORT 042 DOWN", 4, 4, "5", "4"},
      {"PORT 042 DOWN", 3, 0, "4", "0"},  // nothing selected: the caret
      {"", 0, 0, "1", "0"},
      {"Gr\xc3\xbc\xc3\x9f"
       "e 42",
       6, 2, "9", "2"},  // two 2-byte characters before
      {"\xe2\x82\xac"
       "5",
       0, 1, "1", "3"},  // a 3-byte character picked
      {"\xf0\x9f\x93\x9f"
       "ab",
       2, 1, "5", "1"},  // a character of two units
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    model_->SetText({FieldKind::kValToSplit}, c.sample);
    model_->cmdVar_Click(2, c.start, c.length);
    EXPECT_EQ(model_->definition().vars[2].VarPos, c.pos);
    EXPECT_EQ(model_->definition().vars[2].VarChar, c.chars);
  }
  model_->cmdVar_Click(4, 0, 1);  // row 4 is not in use: nothing happens
  EXPECT_EQ(model_->definition().vars[4].VarPos, "4");
}

TEST_F(ModelTest, ARefusedValueKeepsTheEditAndStopsTheMove) {
  AddRows({"a", "b"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  struct Case {
    Field field;
    std::string typed;
    std::string message;
  };
  const Case definition_cases[] = {
      {{FieldKind::kTrapSourceVarNo},
       "21",
       "Tervix: Trap \"a\", Wrap Source Variable #: 21 is not a binding the service keeps (1 to "
       "20)."},
      {{FieldKind::kTrapSourceVarNo},
       "2.5",
       "Tervix: Trap \"a\", Wrap Source Variable #: \"2.5\" is not a whole number."},
      {{FieldKind::kVarPos, 3},
       "40000",
       "Tervix: Trap \"a\", variable 3, Pos: 40000 is not a "
       "position (1 to 32767)."},
      {{FieldKind::kVarChar, 3},
       "-1",
       "Tervix: Trap \"a\", variable 3, Char: -1 is not a number "
       "of characters (0 to 32767)."},
      {{FieldKind::kVarChar, 3},
       "four",
       "Tervix: Trap \"a\", variable 3, Char: \"four\" is not a "
       "whole number."},
  };
  for (const Case& c : definition_cases) {
    SCOPED_TRACE(c.typed);
    Type(c.field, c.typed);
    EXPECT_FALSE(model_->lbxTrapName_Click(1));
    EXPECT_FALSE(model_->tab1_Click(kPageGeneral));
    EXPECT_EQ(dialogs_.TakeMessages(), (std::vector<std::string>{c.message, c.message}));
    EXPECT_EQ(model_->selected(), 0);
    EXPECT_EQ(model_->page(), kPageTraps);
    EXPECT_EQ(model_->Text(c.field), c.typed);
    EXPECT_EQ(model_->TakeFocusRequest(), c.field);
    Type(c.field, "1");  // corrected
  }
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));

  const Case general_cases[] = {
      {{FieldKind::kTrapRecvPort},
       "0",
       "Tervix: Receive Traps On, Port: 0 is not a port number "
       "(1 to 65535)."},
      {{FieldKind::kTrapForwPort},
       "70000",
       "Tervix: Forward Traps To, Port: 70000 is not a port "
       "number (1 to 65535)."},
      {{FieldKind::kTrapRecvIpAddr},
       "10.0.0",
       "Tervix: Receive Traps On, IP Address: \"10.0.0\" "
       "is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)."},
      {{FieldKind::kTrapForwIpAddr},
       "0.0.0.0",
       "Tervix: Forward Traps To, IP Address: "
       "\"0.0.0.0\" means every address (0.0.0.0 or ::), not one that traps can be sent to."},
  };
  for (const Case& c : general_cases) {
    SCOPED_TRACE(c.typed);
    const std::string before = model_->Text(c.field);
    Type(c.field, c.typed);
    EXPECT_FALSE(model_->tab1_Click(kPageTraps));
    EXPECT_EQ(dialogs_.TakeMessages(), std::vector<std::string>{c.message});
    EXPECT_EQ(model_->page(), kPageGeneral);
    EXPECT_EQ(model_->Text(c.field), c.typed);
    EXPECT_EQ(model_->TakeFocusRequest(), c.field);
    // On exit the user may discard the edit, or go back to it.
    dialogs_.answers = {false};
    EXPECT_FALSE(model_->cmdExit_Click());
    EXPECT_EQ(dialogs_.TakeMessages().size(), 1u);
    EXPECT_EQ(model_->TakeFocusRequest(), c.field);
    Type(c.field, before);
  }
  Type({FieldKind::kTrapRecvPort}, "1162");
  Type({FieldKind::kTrapForwPort}, "x");
  dialogs_.answers = {true};
  EXPECT_TRUE(model_->cmdExit_Click());
  // The other, valid edit of the page is still stored.
  EXPECT_EQ(Settings().ByName("TrapRecvPort"), store::Value(1162));
  EXPECT_EQ(Settings().ByName("TrapForwPort"), store::Value(1162));
}

TEST_F(ModelTest, AFailedWriteKeepsTheEditsAndSaysWhy) {
  AddRows({"a", "b"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  Type({FieldKind::kTrapOID}, "1.3.6.1.4.1.9.0.99");
  // The database replaced by a folder: neither root nor anyone else can open it.
  const std::string db = folder_ + "/Tervix.mdb";
  fs::rename(db, db + ".away");
  fs::create_directory(db);
  EXPECT_FALSE(model_->lbxTrapName_Click(1));
  const std::vector<std::string> messages = dialogs_.TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Tervix: The settings could not be read or stored: ", 0), 0u)
      << messages[0];
  EXPECT_EQ(model_->selected(), 0);
  EXPECT_EQ(model_->definition().TrapOID, "1.3.6.1.4.1.9.0.99");
  fs::remove(db);
  fs::rename(db + ".away", db);
  ASSERT_TRUE(model_->lbxTrapName_Click(1));
  EXPECT_EQ(Rows()[0].ByName("TrapOID"), store::Value("1.3.6.1.4.1.9.0.99"));
}

TEST_F(ModelTest, ADefinitionRenamedElsewhereIsNoLongerShown) {
  AddRows({"a", "b", "c"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(Db().UpdateTrap(Rows()[2].rowid(), "c", {{"TrapName", store::Value("z")}}).ok());
  ASSERT_TRUE(model_->lbxTrapName_Click(2));
  EXPECT_EQ(model_->trap_names(), (std::vector<std::string>{"a", "b", "z"}));
  EXPECT_EQ(model_->selected(), 0);
}

// The LAST-UPDATED value of a module text.
std::string StampOf(const std::string& text) {
  const std::string key = "\r\n    LAST-UPDATED \"";
  const size_t at = text.find(key);
  return at == std::string::npos ? "" : text.substr(at + key.size(), 13);
}

// "Generate MIB File" writes what is stored, not what is shown, opens the file, and lists what
// a station will not load; a second click replaces the file.
TEST_F(ModelTest, GenerateMibWritesOpensAndListsWhatWillNotLoad) {
  AddRows({"linkDown"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  Type({FieldKind::kTrapOID}, "1.3.6.1.4.1.9.9.9");  // shown only
  const std::string path = folder_ + "/Tervix.mib";
  for (int click = 1; click <= 2; ++click) {
    SCOPED_TRACE(click);
    if (click == 2) AddRows({"linkUp"});  // var1 to var3 once more
    const std::time_t before = std::time(nullptr);
    model_->cmdGenerateMIB_Click();
    const std::time_t after = std::time(nullptr);
    Result<std::string> text = ReadFile(path);
    ASSERT_TRUE(text.ok()) << text.status().ToString();
    const std::string stamp = StampOf(*text);
    EXPECT_TRUE(stamp == MibStamp(before) || stamp == MibStamp(after)) << stamp;
    EXPECT_EQ(*text, MibModuleText(Rows(), stamp));
    EXPECT_EQ(text->find("1.3.6.1.4.1.9.9.9"), std::string::npos);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0664));
    EXPECT_EQ(dialogs_.opened, std::vector<std::string>(static_cast<size_t>(click), path));
  }
  const std::string twice = R"(" is declared twice (also by Trap "linkDown", variable )";
  EXPECT_EQ(dialogs_.TakeMessages(),
            (std::vector<std::string>{std::string("Tervane: ") + kMibWarningsIntro +
                                      "\r\n\r\nTrap \"linkUp\", variable 1: the name \"var1" +
                                      twice + "1)\r\nTrap \"linkUp\", variable 2: the name \"var2" +
                                      twice + "2)\r\nTrap \"linkUp\", variable 3: the name \"var3" +
                                      twice + "3)"}));
  // Nothing is left under a temporary name.
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// A file that cannot be written is named with the reason, nothing is opened, and the previous
// file stays as it was: the new text goes to a temporary file beside it first.
TEST_F(ModelTest, GenerateMibFailureSaysWhyAndKeepsThePreviousFile) {
  AddRows({"linkDown"});
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  const std::string path = folder_ + "/Tervix.mib";
  // The temporary file's name, as the file layer makes it: blocked by a folder, it cannot be
  // written.
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  struct Case {
    const char* name;
    std::function<void()> block;
    std::string reason;
  };
  const Case cases[] = {
      {"the temporary file cannot be made", [&] { fs::create_directory(temp); },
       path + ": Is a directory"},
      {"the database is gone", [&] { fs::rename(folder_ + "/Tervix.mdb", folder_ + "/away"); },
       folder_ + "/Tervix.mdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path) << "previous\r\n";
    c.block();
    model_->cmdGenerateMIB_Click();
    const std::vector<std::string> messages = dialogs_.TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("Tervix: The MIB file could not be written: "))
        << messages[0];
    EXPECT_NE(messages[0].find(c.reason), std::string::npos) << messages[0];
    EXPECT_TRUE(dialogs_.opened.empty());
    Result<std::string> kept = ReadFile(path);
    EXPECT_TRUE(kept.ok() && *kept == "previous\r\n");
  }
  // A folder in the file's place cannot be replaced.
  fs::rename(folder_ + "/away", folder_ + "/Tervix.mdb");
  fs::remove_all(temp);
  fs::remove(path);
  fs::create_directories(path + "/inside");
  model_->cmdGenerateMIB_Click();
  EXPECT_EQ(dialogs_.TakeMessages(),
            (std::vector<std::string>{"Tervix: The MIB file could not be written: " + path +
                                      ": Is a directory"}));
  EXPECT_TRUE(dialogs_.opened.empty());
  EXPECT_FALSE(fs::exists(temp));
}

TEST_F(ModelTest, FilesAreFoundWhateverTheirLetterCase) {
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  model_->cmdReadMe_Click();
  model_->cmdTrapOID_Click();
  EXPECT_EQ(dialogs_.TakeMessages(), (std::vector<std::string>{"Tervane: No ReadMe File Exist",
                                                               "Tervane: No Debug File Exist"}));
  std::ofstream(folder_ + "/README.TXT") << "guide\n";
  std::ofstream(folder_ + "/Debug.txt") << "record\r\n";
  fs::create_directory(folder_ + "/debug.TXT");  // not a regular file: never offered
  model_->cmdReadMe_Click();
  model_->cmdValToSplit_Click();
  EXPECT_TRUE(dialogs_.TakeMessages().empty());
  EXPECT_EQ(dialogs_.opened,
            (std::vector<std::string>{folder_ + "/README.TXT", folder_ + "/Debug.txt"}));
}

}  // namespace
}  // namespace tervane::config::testing
