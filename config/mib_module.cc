#include "config/mib_module.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>

#include "platform/file.h"
#include "platform/sys_error.h"
#include "store/convert.h"
#include "store/number_text.h"
#include "store/store.h"

namespace tervane::config {
namespace {

constexpr int kMaxVariables = store::kTrapVariableCount;

// The module's head before and after its LAST-UPDATED line. Vantrel's contact data is fixed
// here, at build time; the labels end in a colon in column 17 and the values start in column 19.
constexpr std::string_view kHeadTop[] = {
    "VANTREL-TERVANE-MIB DEFINITIONS ::= BEGIN",
    "",
    "IMPORTS",
    "    MODULE-IDENTITY, OBJECT-TYPE,",
    // Every syntax a variable can have, so that each object's SYNTAX resolves.
    "    NOTIFICATION-TYPE, Integer32, IpAddress, Counter32, Gauge32, TimeTicks",
    "        FROM SNMPv2-SMI",
    "    DisplayString",
    "        FROM SNMPv2-TC",
    "    products, generic",
    "        FROM VANTREL-ROOT-MIB;",
    "",
    "tervix MODULE-IDENTITY",
};
constexpr std::string_view kHeadBottom[] = {
    "    ORGANIZATION \"Vantrel\"",
    "    CONTACT-INFO",
    "        \"Contact: Vantrel Support",
    "          Postal: Vantrel",
    "                  100 Example Road",
    "                  55555 Springfield",
    "                  USA",
    "             Tel: +1 555 555 0100",
    "          E-Mail: support@vantrel.example.org",
    "             Web: https://www.vantrel.example.org\"",
    "    DESCRIPTION",
    "        \"This MIB module is auto-generated from the Tervix application.\"",
    "    ::= { products 100 }",
    "",
    "-- Administrative assignments ****************************************",
    "",
    "tervixObjects                 OBJECT IDENTIFIER ::= { tervix 1 }",
    "tervixNotifications           OBJECT IDENTIFIER ::= { tervix 2 }",
    "tervixNotificationPrefix      OBJECT IDENTIFIER ::= { tervixNotifications 0 }",
    "",
};

// Descriptors that the module declares or imports itself.
constexpr std::string_view kModuleNames[] = {
    "tervix",   "tervixObjects", "tervixNotifications", "tervixNotificationPrefix",
    "products", "generic"};

constexpr std::string_view kTypes[] = {"Integer32", "DisplayString", "OBJECT IDENTIFIER",
                                       "IpAddress", "Counter32",     "Gauge32",
                                       "TimeTicks"};

constexpr store::NumberRange kCountRange{0, kMaxVariables, "", kErrorOverflow};

class Lines {
 public:
  template <typename... Parts>
  void Add(const Parts&... parts) {
    (text_.append(std::string_view(parts)), ...);
    text_.append("\r\n");
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// TrapNewVarNo read as the service reads it (a number, a fraction rounded), when it lies within
// 0 to 14; nothing otherwise.
std::optional<int> SoundCount(const store::Value& value) {
  Result<int64_t> n =
      store::ParseNumberText(value.AsText(), store::NumberStyle::kRounded, kCountRange, "");
  if (!n.ok()) return std::nullopt;
  return static_cast<int>(*n);
}

// The number of variables whose object blocks a row declares: its TrapNewVarNo, 0 for an empty
// value, one that is no number or a negative one, and 14 above 14.
int DeclaredCount(const store::Value& value) {
  if (std::optional<int> n = SoundCount(value)) return *n;
  const std::string text = value.AsText();
  Result<int64_t> number =
      store::ParseNumberText(text, store::NumberStyle::kRounded, store::kInt32Range, "");
  if (number.ok()) return *number > 0 ? kMaxVariables : 0;
  // Beyond 32 bits: its sign decides.
  if (number.status().error() != kErrorOverflow) return 0;
  const size_t first = text.find_first_not_of(" \t");
  return first != std::string::npos && text[first] == '-' ? 0 : kMaxVariables;
}

// Whether the trap number, as stored, is a whole number that an OID can carry and from which
// the service derives its variables' OIDs.
bool SoundTrapNumber(const store::Value& value) {
  const std::string text = value.AsText();
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
         store::ToInt32(value, "").ok();
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string MibStamp(std::time_t when) {
  std::tm utc{};
  char stamp[32] = "";
  if (gmtime_r(&when, &utc) == nullptr ||
      std::strftime(stamp, sizeof stamp, "%Y%m%d%H%MZ", &utc) == 0) {
    return "";
  }
  return stamp;
}

std::string MibModuleText(const std::vector<store::TrapRow>& rows, std::string_view stamp) {
  Lines out;
  for (std::string_view line : kHeadTop) out.Add(line);
  out.Add("    LAST-UPDATED \"", stamp, "\"");
  for (std::string_view line : kHeadBottom) out.Add(line);

  int k = 0;
  for (const store::TrapRow& row : rows) {
    out.Add("-- Wrap No # ", std::to_string(++k), " ", std::string(54, '*'));
    out.Add("");
    const int count = DeclaredCount(row.ByName("TrapNewVarNo"));
    // The variables' numbers: the trap number as the service adds to it; none when it is
    // no number.
    Result<int32_t> number = store::ToInt32(row.ByName("TrapNewNumber"), "");
    std::string objects;
    for (int i = 1; i <= count; ++i) {
      const std::string name = row.Var(i, store::VarField::kName).AsText();
      const std::string sum = number.ok() ? std::to_string(int64_t{*number} + i) : "";
      out.Add(name, " OBJECT-TYPE");
      out.Add("    SYNTAX  ", row.Var(i, store::VarField::kType).AsText());
      out.Add("    MAX-ACCESS  read-only");
      out.Add("    STATUS  current");
      out.Add("    DESCRIPTION");
      out.Add("        \"Variable ", std::to_string(i), "\"");
      out.Add("    ::= { tervixObjects ", sum, " }");
      out.Add("");
      objects += (i > 1 ? ", " : "") + name;
    }
    out.Add(row.ByName("TrapName").AsText(), "  NOTIFICATION-TYPE");
    // SMIv2 allows a notification without objects, but not an empty OBJECTS clause.
    if (count > 0) out.Add("    OBJECTS  { ", objects, " }");
    out.Add("    STATUS  current");
    out.Add("    DESCRIPTION");
    out.Add("        \"Trap Source is ", row.ByName("TrapOID").AsText(), "\"");
    out.Add("    ::= { tervixNotificationPrefix ", row.ByName("TrapNewNumber").AsText(), " }");
    out.Add("");
  }
  out.Add("END");
  return out.Take();
}

bool IsMibDescriptor(std::string_view name) {
  if (name.empty() || name.size() > 64 || name[0] < 'a' || name[0] > 'z' || name.back() == '-') {
    return false;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '-') return false;
    if (c == '-' && name[i - 1] == '-') return false;
  }
  return true;
}

std::vector<std::string> MibWarnings(const std::vector<store::TrapRow>& rows) {
  std::vector<std::string> warnings;
  // Each descriptor and who declared it first.
  std::map<std::string, std::string, std::less<>> declared;
  for (std::string_view name : kModuleNames) declared.emplace(name, "the module itself");
  auto descriptor = [&](const std::string& name, const std::string& who) {
    if (name.empty()) {
      warnings.push_back(who + ": the name is empty");
    } else if (!IsMibDescriptor(name)) {
      warnings.push_back(who + ": the name " + Quoted(name) +
                         " is not a MIB name (a lowercase letter first, then letters, digits "
                         "and single hyphens, not ending in a hyphen, at most 64 characters)");
    } else if (auto [first, fresh] = declared.emplace(name, who); !fresh) {
      warnings.push_back(who + ": the name " + Quoted(name) + " is declared twice (also by " +
                         first->second + ")");
    }
  };

  for (const store::TrapRow& row : rows) {
    const std::string trap = row.ByName("TrapName").AsText();
    const std::string who = "Trap " + Quoted(trap);
    descriptor(trap, who);
    const store::Value& number = row.ByName("TrapNewNumber");
    if (number.AsText().empty()) {
      warnings.push_back(who + ": the trap number is empty");
    } else if (!SoundTrapNumber(number)) {
      warnings.push_back(who + ": the trap number " + Quoted(number.AsText()) +
                         " is not a whole number from 0 to 2147483647");
    }
    const std::string oid = row.ByName("TrapOID").AsText();
    if (oid.find('"') != std::string::npos) {
      warnings.push_back(who + ": the Trap OID " + Quoted(oid) +
                         " holds a double quote, which ends the notification's description");
    }
    const store::Value& count = row.ByName("TrapNewVarNo");
    const int declared_count = DeclaredCount(count);
    if (!SoundCount(count)) {
      warnings.push_back(who + ": New Variables " + Quoted(count.AsText()) +
                         " is not a number from 0 to 14; the module declares " +
                         (declared_count == 0
                              ? std::string("no variables")
                              : "variables 1 to " + std::to_string(declared_count)));
    }
    for (int i = 1; i <= declared_count; ++i) {
      const std::string var = who + ", variable " + std::to_string(i);
      descriptor(row.Var(i, store::VarField::kName).AsText(), var);
      const std::string type = row.Var(i, store::VarField::kType).AsText();
      if (type.empty()) {
        warnings.push_back(var + ": the type is empty");
      } else if (std::find(std::begin(kTypes), std::end(kTypes), type) == std::end(kTypes)) {
        warnings.push_back(var + ": the type " + Quoted(type) + " is none of the seven SNMP types");
      }
    }
  }
  return warnings;
}

Result<std::vector<std::string>> GenerateMibFile(const std::string& folder,
                                                 const std::string& path) {
  // Reading is all it does: a user who may not change the settings may still write the module.
  Result<store::Store> db = store::Store::Open(folder, store::Access::kReadOnly);
  if (!db.ok()) return db.status();
  Result<std::vector<store::TrapRow>> rows = db->ReadTraps();
  if (!rows.ok()) return rows.status();
  // Readable by every station's tools; writable for the group that shares the program folder.
  const Status written =
      ReplaceFile(path, MibModuleText(*rows, MibStamp(std::time(nullptr))), 0664);
  // The file the user asked for is named, not the temporary one beside it.
  if (!written.ok() && written.error().domain == ErrorDomain::kErrno) {
    return SysError(written.code(), path);
  }
  if (!written.ok()) return written;
  return MibWarnings(*rows);
}

}  // namespace tervane::config
