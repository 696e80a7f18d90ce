// WCHAR text helpers. WCHAR is 16 bits here (-fshort-wchar), so the C library's wide-string
// routines do not apply; these loops do the little the kernel needs. Narrow text is Latin-1.
#pragma once

#include "wdm.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::kernel {

std::size_t wideLength(const WCHAR* text); // characters before the NUL
// A counted string as narrow text; characters above U+00FF become '?'.
std::string narrow(const UNICODE_STRING& text);
std::string narrow(const WCHAR* text, std::size_t length);
// Whether every character of the counted string fits in Latin-1.
bool isLatin1(const UNICODE_STRING& text);
// Narrow text as WCHARs, with a terminating NUL.
std::vector<WCHAR> widen(std::string_view text);
// Points `out` at `storage` (which must outlive it), without the NUL in Length.
void viewAsUnicode(std::vector<WCHAR>& storage, UNICODE_STRING& out);

char upcase(char c);
std::string upcase(std::string_view text);
bool equalNoCase(std::string_view a, std::string_view b);

} // namespace winsim::kernel
