// kernel32's allocators. Every block is counted until it is freed, so a host can see leaks;
// freeing a block that is not live is reported instead of corrupting the heap.
#include "user/api.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace winsim::user {
namespace {

std::mutex allocations_lock;
std::unordered_set<void*>& allocations() {
    static std::unordered_set<void*> live;
    return live;
}

void* allocate(SIZE_T bytes, bool zero) {
    void* block =
        zero ? std::calloc(1, bytes == 0 ? 1 : bytes) : std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) {
        const std::lock_guard lock(allocations_lock);
        allocations().insert(block);
    }
    return block;
}

// Frees a live block; false for one that is not (double free, foreign pointer).
bool release(void* block) {
    {
        const std::lock_guard lock(allocations_lock);
        if (allocations().erase(block) == 0) {
            return false;
        }
    }
    std::free(block);
    return true;
}

void report_bad_free(const char* call, void* block) {
    if (Session* session = current_session()) {
        char text[96];
        std::snprintf(text, sizeof text, "%s of a block that is not allocated (%p)", call, block);
        session->record_error(text);
    }
}

constexpr std::uintptr_t process_heap = 0x00140000;

} // namespace

std::size_t live_allocations() {
    const std::lock_guard lock(allocations_lock);
    return allocations().size();
}

} // namespace winsim::user

using namespace winsim::user;

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (current_session() != nullptr) {
        if (auto error = injected("LocalAlloc")) {
            SetLastError(*error);
            return nullptr;
        }
    }
    void* block = allocate(uBytes, (uFlags & LMEM_ZEROINIT) != 0);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) {
        return nullptr;
    }
    if (!release(hMem)) {
        report_bad_free("LocalFree", hMem);
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return nullptr;
}

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    if (current_session() != nullptr) {
        if (auto error = injected("GlobalAlloc")) {
            SetLastError(*error);
            return nullptr;
        }
    }
    void* block = allocate(dwBytes, (uFlags & GMEM_ZEROINIT) != 0);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    if (hMem == nullptr) {
        return nullptr;
    }
    if (!release(hMem)) {
        report_bad_free("GlobalFree", hMem);
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return nullptr;
}

HANDLE WINAPI GetProcessHeap(void) {
    return reinterpret_cast<HANDLE>(process_heap);
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (current_session() != nullptr) {
        if (auto error = injected("HeapAlloc")) {
            SetLastError(*error);
            return nullptr;
        }
    }
    if (reinterpret_cast<std::uintptr_t>(hHeap) != process_heap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return allocate(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    if (lpMem == nullptr) {
        return TRUE;
    }
    if (reinterpret_cast<std::uintptr_t>(hHeap) != process_heap || !release(lpMem)) {
        report_bad_free("HeapFree", lpMem);
        return fail(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

} // extern "C"
