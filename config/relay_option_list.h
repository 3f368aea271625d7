// OptionList: one relay-wide option of table RelayOption as the page "General Settings" shows
// it, a pick-only list of named choices, without the widgets.
//
// The list shows the choice of the value that the file holds. An option without a row (a file
// older than version 2, opened read-only, or a row removed by hand) shows the value the relay
// runs with then: the option's upgraded value (store/relay_options.h). A value that is none of
// the choices (written by hand) is shown as itself, as one more entry after them, and stays
// the option's value until the user picks a choice; the entry stays too, so that the user can
// go back to it. Only a value the user changed is to be written, so that a value another
// program wrote after the list was read is not overwritten by an unchanged list.
#ifndef TERVANE_CONFIG_RELAY_OPTION_LIST_H_
#define TERVANE_CONFIG_RELAY_OPTION_LIST_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/relay_options.h"
#include "store/rows.h"

namespace tervane::config {

// A value the option takes, and the entry that names it in the list.
struct OptionChoice {
  std::string_view value;
  std::string_view entry;
};

// The option AddSourceAddress: its list's caption and choices, in the list's order.
inline constexpr char kSourceAddressCaption[] = "Sender's address (snmpTrapAddress.0)";
inline constexpr OptionChoice kSourceAddressChoices[] = {
    {"0", "Keep as sent"},
    {"1", "Add when missing"},
    {"replace", "Always the sender"},
};

class OptionList {
 public:
  // The list of option `name` (one of store::kOptionDefaults) with `choices`; until Read()
  // it shows the option's upgraded value.
  OptionList(std::string_view name, std::span<const OptionChoice> choices);

  // Shows the option's value among `rows`, as read from the file; nothing counts as changed.
  void Read(const std::vector<store::RelayOption>& rows);

  // The choices' entries, then the value as read when it is none of them.
  const std::vector<std::string>& entries() const { return entries_; }
  // The entry of the current value; -1 for an empty value that is none of the choices.
  int current() const;
  // The option's value now.
  const std::string& value() const { return value_; }

  // The user picked entry `index`; an index of no entry changes nothing.
  void Pick(int index);

  // The value to write: the current one when the user changed it, else none.
  std::optional<std::string> Edited() const;
  // The current value has been written: it is the stored one now.
  void Stored() { stored_ = value_; }

  const std::string& name() const { return name_; }

 private:
  void Show(std::string value);

  std::string name_;
  std::span<const OptionChoice> choices_;
  std::vector<std::string> entries_;
  std::string value_;
  std::string stored_;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_RELAY_OPTION_LIST_H_
