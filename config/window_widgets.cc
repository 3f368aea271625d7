#include "config/window_widgets.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace tervane::config {

void Shade(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  widget->setPalette(palette);
}

void FixWidth(QLineEdit* edit, int chars) {
  const QFontMetrics metrics(edit->font());
  const QMargins margins = edit->textMargins();
  edit->setFixedWidth(metrics.horizontalAdvance(QString(chars, QChar('0'))) + margins.left() +
                      margins.right() + 12);
}

void MakeAddressField(QLineEdit* edit) {
  edit->setMaxLength(kAddressMaxLength);
  FixWidth(edit, kAddressWidthChars);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  if (buddy != nullptr) label->setBuddy(buddy);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  const QFontMetrics metrics(button->font());
  button->setMinimumWidth(metrics.horizontalAdvance(button->text().remove('&')) + 24);
  return button;
}

QPushButton* MakeBrowseButton(QWidget* parent, const char* name, const QString& accessible_name) {
  QPushButton* button = MakeButton(parent, name, "...");
  button->setAccessibleName(accessible_name);
  const QFontMetrics metrics(button->font());
  button->setFixedWidth(metrics.horizontalAdvance("...") + 24);
  return button;
}

void FocusRefusedField(QWidget* field) {
  field->window()->activateWindow();
  field->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
}

}  // namespace tervane::config
