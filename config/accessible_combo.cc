#include "config/accessible_combo.h"

#include <QAbstractItemView>
#include <QComboBox>

namespace tervane::config {
namespace {

QAccessibleInterface* ComboFactory(const QString& key, QObject* object) {
  auto* combo = qobject_cast<QComboBox*>(object);
  if (key != QLatin1String("QComboBox") || combo == nullptr || combo->isEditable()) {
    return nullptr;
  }
  return new AccessibleCombo(combo);
}

}  // namespace

AccessibleCombo::AccessibleCombo(QComboBox* combo)
    : QAccessibleWidget(combo, QAccessible::ComboBox) {}

QComboBox* AccessibleCombo::combo() const { return static_cast<QComboBox*>(widget()); }

QString AccessibleCombo::text(QAccessible::Text t) const {
  if (t == QAccessible::Value) return combo()->currentText();
  if (t == QAccessible::Name && !combo()->accessibleName().isEmpty()) {
    return combo()->accessibleName();
  }
  return QAccessibleWidget::text(t);
}

QAccessible::State AccessibleCombo::state() const {
  QAccessible::State s = QAccessibleWidget::state();
  s.expandable = true;
  s.expanded = combo()->view()->isVisible();
  s.collapsed = !s.expanded;
  return s;
}

int AccessibleCombo::childCount() const { return 1; }

QAccessibleInterface* AccessibleCombo::child(int index) const {
  return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
}

int AccessibleCombo::indexOfChild(const QAccessibleInterface* child) const {
  return child != nullptr && child->object() == combo()->view() ? 0 : -1;
}

QStringList AccessibleCombo::actionNames() const {
  return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
}

void AccessibleCombo::doAction(const QString& action) {
  if (action == showMenuAction() || action == pressAction()) {
    if (combo()->isEnabled()) combo()->showPopup();
    return;
  }
  QAccessibleWidget::doAction(action);
}

QStringList AccessibleCombo::keyBindingsForAction(const QString& action) const {
  if (action == showMenuAction() || action == pressAction()) return {QStringLiteral("Alt+Down")};
  return QAccessibleWidget::keyBindingsForAction(action);
}

void InstallAccessibleInterfaces() {
  static const bool installed = [] {
    QAccessible::installFactory(ComboFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace tervane::config
