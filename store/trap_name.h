// Trap definition names compared as a user means them: without regard to letter case, for
// every script, not only ASCII. "überTrap" and "ÜberTrap" are the same name, as are "ΣΟΦΙΑ"
// and "σοφια" (and "σοφιας" with "ΣΟΦΙΑΣ", final sigma included).
//
// Wherever trap names are compared (the window's check for a name already taken, the
// administrator's command-line tools, an import), they are compared with SameTrapName, so
// that all of them agree on which names collide.
//
// The comparison is Unicode's simple case folding (CaseFolding.txt, statuses C and S), from
// the generated table case_folding_table.inc: one code point to one code point, the same on
// every machine and in every locale, since it never asks the C library (toupper, towupper
// and their locale). The full foldings that change a name's length ("ß" to "ss") and the
// Turkic ones ("I" to "ı") are left out, so "İ" (U+0130) and "i" stay different names.
//
// A name is UTF-8 as the window stores it. Bytes that are not well-formed UTF-8 (overlong
// forms, surrogates, code points above U+10FFFF, truncated sequences, stray continuation
// bytes) are kept as they are, byte by byte, and never stand for a letter: two names that
// differ in such bytes stay different.
#ifndef TERVANE_STORE_TRAP_NAME_H_
#define TERVANE_STORE_TRAP_NAME_H_

#include <string>
#include <string_view>

namespace tervane::store {

// `utf8` with each code point replaced by its simple case folding, re-encoded as UTF-8, and
// every byte that is not part of well-formed UTF-8 copied unchanged. Folding twice gives
// the same text as folding once.
std::string FoldCase(std::string_view utf8);

// Whether `a` and `b` name the same trap definition: FoldCase(a) == FoldCase(b).
bool SameTrapName(std::string_view a, std::string_view b);

}  // namespace tervane::store

#endif  // TERVANE_STORE_TRAP_NAME_H_
