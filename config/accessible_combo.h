// What a screen reader is told of the window's pick-only lists. Qt's own interface for a
// QComboBox gives, on Linux, the current entry ("1000") as the list's name, whatever its
// accessible name says, so a list could not say what it is. Ours gives the accessible name as
// the name and the current entry as the value, and keeps what a reader does with a list: open
// it (the press and show-menu actions) and pick from its popup, which is its one child.
#ifndef TERVANE_CONFIG_ACCESSIBLE_COMBO_H_
#define TERVANE_CONFIG_ACCESSIBLE_COMBO_H_

#include <QAccessibleWidget>

class QComboBox;

namespace tervane::config {

class AccessibleCombo : public QAccessibleWidget {
 public:
  explicit AccessibleCombo(QComboBox* combo);

  QString text(QAccessible::Text t) const override;
  QAccessible::State state() const override;
  int childCount() const override;
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QStringList actionNames() const override;
  void doAction(const QString& action) override;
  QStringList keyBindingsForAction(const QString& action) const override;

 private:
  QComboBox* combo() const;
};

// Makes the window's lists use AccessibleCombo; once per program, before the first list's
// interface is asked for.
void InstallAccessibleInterfaces();

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_ACCESSIBLE_COMBO_H_
