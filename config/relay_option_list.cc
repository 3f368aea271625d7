#include "config/relay_option_list.h"

#include <utility>

namespace tervane::config {
namespace {

// The value an option has without a row: what the relay did before the option existed.
std::string_view UpgradedValue(std::string_view name) {
  for (const store::OptionDefault& option : store::kOptionDefaults) {
    if (option.name == name) return option.upgraded;
  }
  return {};
}

}  // namespace

OptionList::OptionList(std::string_view name, std::span<const OptionChoice> choices)
    : name_(name), choices_(choices) {
  Show(std::string(UpgradedValue(name_)));
}

void OptionList::Read(const std::vector<store::RelayOption>& rows) {
  std::string value(UpgradedValue(name_));
  for (const store::RelayOption& row : rows) {
    if (row.name == name_) value = row.value;
  }
  Show(std::move(value));
}

void OptionList::Show(std::string value) {
  value_ = std::move(value);
  stored_ = value_;
  entries_.clear();
  bool known = value_.empty();
  for (const OptionChoice& choice : choices_) {
    entries_.emplace_back(choice.entry);
    known = known || choice.value == value_;
  }
  if (!known) entries_.push_back(value_);
}

int OptionList::current() const {
  for (size_t i = 0; i < choices_.size(); ++i) {
    if (choices_[i].value == value_) return static_cast<int>(i);
  }
  // The hand-made value, as it was read, is the entry after the choices.
  const bool hand_made = entries_.size() > choices_.size();
  return hand_made && value_ == entries_.back() ? static_cast<int>(choices_.size()) : -1;
}

void OptionList::Pick(int index) {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return;
  const auto at = static_cast<size_t>(index);
  value_ = at < choices_.size() ? std::string(choices_[at].value) : entries_[at];
}

std::optional<std::string> OptionList::Edited() const {
  if (value_ == stored_) return std::nullopt;
  return value_;
}

}  // namespace tervane::config
