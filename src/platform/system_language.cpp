#include "platform/system_language.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zarvik {

Language language_from_windows_id(unsigned short langid) {
    constexpr unsigned short kPrimaryMask = 0x3FF;
    constexpr unsigned short kRussian = 0x19;  // LANG_RUSSIAN
    return (langid & kPrimaryMask) == kRussian ? Language::Russian : Language::English;
}

Language system_language() {
#if defined(_WIN32)
    return language_from_windows_id(::GetUserDefaultUILanguage());
#else
    return language_from_environment();
#endif
}

}  // namespace zarvik
