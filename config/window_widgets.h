// Small helpers that every page of the window builds its widgets with: texts, shading, widths,
// labels and buttons.
#ifndef TERVANE_CONFIG_WINDOW_WIDGETS_H_
#define TERVANE_CONFIG_WINDOW_WIDGETS_H_

#include <QString>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tervane::config {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

// Read-only boxes, and the sample whose pieces are picked, are shaded like the window.
void Shade(QWidget* widget);

// Gives the focus to the field of a dialog that a refusal names, its text selected, and the
// dialog back to the front: the user's text stays for correcting.
void FocusRefusedField(QWidget* field);

// A box wide enough for `chars` digits or letters of its font, and no wider.
void FixWidth(QLineEdit* edit, int chars);

// The address fields: IPv4 or IPv6 text of up to 45 characters (an IPv6 address with an IPv4
// tail, ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255), in a box wide enough for the 39 of
// the longest address in the form the programs write it.
inline constexpr int kAddressMaxLength = 45;
inline constexpr int kAddressWidthChars = 39;
void MakeAddressField(QLineEdit* edit);

// A label for `buddy`, which its mnemonic and a screen reader's name then lead to.
QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy = nullptr);

// A button named `name` with some room around its caption, as dialog buttons have.
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text);

// A "..." button: as narrow as its text allows.
QPushButton* MakeBrowseButton(QWidget* parent, const char* name, const QString& accessible_name);

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_WINDOW_WIDGETS_H_
