// kernel32's and user32's 8-bit string routines.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// wsprintf's "l" size prefix means 32 bits, as its int does: drop it before a conversion so
// that the C library reads an int. Floating point is not part of wsprintf.
std::string to_c_format(const char* format) {
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        out.push_back(*p);
        if (*p != '%') {
            continue;
        }
        ++p;
        while (*p != '\0' && std::strchr("-+ #0123456789.", *p) != nullptr) {
            out.push_back(*p++);
        }
        if (*p == 'l' || *p == 'L') {
            ++p; // 32-bit: the default size
        }
        if (*p == '\0') {
            break;
        }
        out.push_back(*p);
    }
    return out;
}

constexpr int wsprintf_limit = 1024;

} // namespace

extern "C" {

int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        return nullptr;
    }
    return std::strcpy(lpString1, lpString2);
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
    if (lpString1 == nullptr || lpString2 == nullptr || iMaxLength <= 0) {
        return lpString1;
    }
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i] != '\0'; ++i) {
        lpString1[i] = lpString2[i];
    }
    lpString1[i] = '\0';
    return lpString1;
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        return nullptr;
    }
    return std::strcat(lpString1, lpString2);
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    const int result =
        std::strcmp(lpString1 == nullptr ? "" : lpString1, lpString2 == nullptr ? "" : lpString2);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    const char* a = lpString1 == nullptr ? "" : lpString1;
    const char* b = lpString2 == nullptr ? "" : lpString2;
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            return 0;
        }
    }
}

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist) {
    if (lpOut == nullptr || lpFmt == nullptr) {
        return -1;
    }
    const std::string format = to_c_format(lpFmt);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int written = std::vsnprintf(lpOut, wsprintf_limit + 1, format.c_str(), arglist);
#pragma GCC diagnostic pop
    if (written < 0) {
        lpOut[0] = '\0';
        return 0;
    }
    return written > wsprintf_limit ? wsprintf_limit : written;
}

int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    va_list arguments;
    va_start(arguments, lpFmt);
    const int written = wvsprintfA(lpOut, lpFmt, arguments);
    va_end(arguments);
    return written;
}

} // extern "C"
