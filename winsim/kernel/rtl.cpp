// The run-time library routines of <wdm.h>: counted strings, conversions and comparisons.
#include "kernel/call_frames.h"
#include "kernel/kernel.h"
#include "kernel/wide.h"

#include <algorithm>
#include <cstring>

using winsim::kernel::Kernel;

namespace {

constexpr std::size_t maxUnicodeBytes = 0xFFFC; // the longest Length that leaves room for a NUL

WCHAR upcaseChar(WCHAR c) {
    const auto u = static_cast<std::uint16_t>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
        return static_cast<WCHAR>(u - 0x20);
    }
    if (u == 0xFF) {
        return static_cast<WCHAR>(0x178);
    }
    return c;
}

// The value of a digit character, or 99 for anything else.
unsigned digitValue(WCHAR c) {
    const auto u = static_cast<std::uint16_t>(c);
    if (u >= '0' && u <= '9') {
        return u - '0';
    }
    if (u >= 'a' && u <= 'f') {
        return u - 'a' + 10;
    }
    if (u >= 'A' && u <= 'F') {
        return u - 'A' + 10;
    }
    return 99;
}

} // namespace

extern "C" {

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    if (SourceString == nullptr) {
        DestinationString->Length = 0;
        DestinationString->MaximumLength = 0;
        DestinationString->Buffer = nullptr;
        return;
    }
    const std::size_t bytes =
        std::min(winsim::kernel::wideLength(SourceString) * sizeof(WCHAR), maxUnicodeBytes);
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString) {
    if (SourceString == nullptr) {
        DestinationString->Length = 0;
        DestinationString->MaximumLength = 0;
        DestinationString->Buffer = nullptr;
        return;
    }
    const std::size_t bytes = std::min<std::size_t>(std::strlen(SourceString), 0xFFFE);
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + 1);
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
}

VOID NTAPI RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString) {
    if (SourceString == nullptr || SourceString->Buffer == nullptr) {
        DestinationString->Length = 0;
        return;
    }
    const std::size_t bytes =
        std::min<std::size_t>(SourceString->Length & ~1u, DestinationString->MaximumLength & ~1u);
    std::memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
    DestinationString->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[bytes / sizeof(WCHAR)] = 0;
    }
}

NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                            PCANSI_STRING SourceString,
                                            BOOLEAN AllocateDestinationString) {
    const std::size_t chars = SourceString->Length;
    const std::size_t bytes = chars * sizeof(WCHAR);
    if (bytes > maxUnicodeBytes) {
        return STATUS_INVALID_PARAMETER;
    }
    if (AllocateDestinationString) {
        Kernel& k = Kernel::current();
        if (k.faults().shouldFail(winsim::kernel::fault_call::RtlAnsiStringToUnicodeString)) {
            return STATUS_NO_MEMORY;
        }
        auto* buffer = static_cast<PWSTR>(k.pool().allocate(PagedPool, bytes + sizeof(WCHAR),
                                                            winsim::kernel::tagString,
                                                            winsim::kernel::currentDriver()));
        if (buffer == nullptr) {
            return STATUS_NO_MEMORY;
        }
        DestinationString->Buffer = buffer;
        DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    } else if (bytes >= DestinationString->MaximumLength) {
        // Windows wants room for the terminating NUL as well.
        return STATUS_BUFFER_OVERFLOW;
    }
    for (std::size_t i = 0; i < chars; ++i) {
        DestinationString->Buffer[i] =
            static_cast<WCHAR>(static_cast<unsigned char>(SourceString->Buffer[i]));
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[chars] = 0;
    }
    return STATUS_SUCCESS;
}

VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    if (UnicodeString->Buffer != nullptr) {
        Kernel::current().pool().free(UnicodeString->Buffer, std::nullopt);
    }
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = 0;
    UnicodeString->MaximumLength = 0;
}

NTSTATUS NTAPI RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value) {
    if (Base != 0 && Base != 2 && Base != 8 && Base != 10 && Base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    const WCHAR* p = String->Buffer;
    std::size_t left = String->Buffer == nullptr ? 0 : String->Length / sizeof(WCHAR);
    // Leading blanks (anything up to the space character), then an optional sign.
    while (left > 0 && static_cast<std::uint16_t>(*p) <= ' ') {
        ++p;
        --left;
    }
    bool negative = false;
    if (left > 0 && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        --left;
    }
    if (Base == 0) {
        Base = 10;
        if (left >= 2 && p[0] == '0') {
            switch (static_cast<std::uint16_t>(p[1])) {
            case 'x':
                Base = 16;
                break;
            case 'o':
                Base = 8;
                break;
            case 'b':
                Base = 2;
                break;
            default:
                break;
            }
            if (Base != 10) {
                p += 2;
                left -= 2;
            }
        }
    }
    ULONG result = 0;
    std::size_t digits = 0;
    for (; left > 0; ++p, --left, ++digits) {
        const unsigned digit = digitValue(*p);
        if (digit >= Base) {
            break;
        }
        result = result * Base + digit; // wraps around, as on Windows
    }
    if (digits == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    *Value = negative ? static_cast<ULONG>(0u - result) : result;
    return STATUS_SUCCESS;
}

LONG NTAPI RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                                   BOOLEAN CaseInSensitive) {
    const std::size_t n1 = String1->Length / sizeof(WCHAR);
    const std::size_t n2 = String2->Length / sizeof(WCHAR);
    const std::size_t n = std::min(n1, n2);
    for (std::size_t i = 0; i < n; ++i) {
        WCHAR a = String1->Buffer[i];
        WCHAR b = String2->Buffer[i];
        if (CaseInSensitive) {
            a = upcaseChar(a);
            b = upcaseChar(b);
        }
        if (a != b) {
            return static_cast<LONG>(static_cast<std::uint16_t>(a)) -
                   static_cast<LONG>(static_cast<std::uint16_t>(b));
        }
    }
    return static_cast<LONG>(String1->Length) - static_cast<LONG>(String2->Length);
}

SIZE_T NTAPI RtlCompareMemory(const VOID* Source1, const VOID* Source2, SIZE_T Length) {
    const auto* a = static_cast<const unsigned char*>(Source1);
    const auto* b = static_cast<const unsigned char*>(Source2);
    SIZE_T i = 0;
    while (i < Length && a[i] == b[i]) {
        ++i;
    }
    return i;
}

} // extern "C"
