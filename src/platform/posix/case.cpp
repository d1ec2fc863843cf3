// The C library's Unicode case table, from the C.UTF-8 locale whatever locale the environment names, so
// a run folds names the same way under LC_ALL=C as under any UTF-8 locale.
#include <locale.h>
#include <wctype.h>

#include "platform/case_fold.h"

namespace zelvane::platform {
namespace {

locale_t CaseLocale() {
  // Made once and never freed: it serves every thread for the life of the process.
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (made == static_cast<locale_t>(nullptr))
      made = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
    return made;
  }();
  return locale;
}

}  // namespace

char32_t UpperCase(char32_t c) {
  const locale_t locale = CaseLocale();
  // Without a Unicode table a character is its own fold: names then compare as their bytes do.
  if (locale == static_cast<locale_t>(nullptr)) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

}  // namespace zelvane::platform
