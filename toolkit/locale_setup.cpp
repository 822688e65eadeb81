#include "toolkit/locale_setup.h"

#include <cstdlib>
#include <cstring>

#include "toolkit/diagnostics.h"

namespace fy {

void setupLocaleFromEnvironment() {
    const char* lang = std::getenv("LANG");
    if (!lang) {
        diagnostic("LANG environment variable is not defined!\n");
        return;
    }
    // Only the language part counts: at most 31 characters, up to the first '.'.
    char language[32];
    std::strncpy(language, lang, sizeof language - 1);
    language[sizeof language - 1] = '\0';
    if (char* dot = std::strchr(language, '.')) *dot = '\0';
    if (language[0] == '\0') return;
    if (const char* name = setlocale(LC_ALL, "POSIX")) {
        // setlocale() hands out a buffer that the next call may overwrite: copy it first.
        char chosen[64];
        std::strncpy(chosen, name, sizeof chosen - 1);
        chosen[sizeof chosen - 1] = '\0';
        setenv("LANG", chosen, 1);
    }
}

void ensureLocale() {
    static const bool done = [] {
        setupLocaleFromEnvironment();
        return true;
    }();
    (void)done;
}

locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

CLocaleScope::CLocaleScope() : previous(uselocale(cLocale())) {}

CLocaleScope::~CLocaleScope() { uselocale(previous); }

}  // namespace fy
