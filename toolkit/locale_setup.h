#pragma once
// The process locale set-up that locale-aware string comparison relies on, and a scope that
// pins the "C" locale for number formatting and parsing on the wire.
#include <locale.h>

namespace fy {

// Runs the locale set-up the first time it is called in the process; later calls do nothing.
void ensureLocale();

// The set-up itself, every time it is called (ensureLocale() runs it once).
void setupLocaleFromEnvironment();

// The "C" locale as a locale object, for the *_l functions.
locale_t cLocale();

// While it lives, the calling thread formats and parses numbers in the "C" locale, so a decimal
// point on the wire is always '.', whatever locale the host has chosen.
class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous;
};

}  // namespace fy
