#include "sample/pages.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define TESSARIN_PAGES_WINDOWS 1
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define TESSARIN_PAGES_MMAP 1
#endif

namespace tessarin::sample {
namespace {

// How a block was obtained, and what freeing it takes. The header sits at the
// start of the block; the caller's data follows it. Its size keeps the data
// 16-byte aligned on the heap and cache-line aligned in a mapping.
enum class Kind : std::uint32_t { heap = 0x68656170, mapped = 0x6d617070 };

struct alignas(16) Header {
    void* base;           // what the system handed out
    std::size_t length;   // bytes mapped from base (mapped blocks)
    Kind kind;
};
constexpr std::size_t header_bytes = 64;
static_assert(sizeof(Header) <= header_bytes);

Header* header_of(void* data) { return reinterpret_cast<Header*>(static_cast<char*>(data) - header_bytes); }

void* place(void* base, std::size_t length, Kind kind) {
    auto* h = static_cast<Header*>(base);
    h->base = base;
    h->length = length;
    h->kind = kind;
    return static_cast<char*>(base) + header_bytes;
}

void* from_heap(std::size_t total, Fill fill) {
    void* base = fill == Fill::zero ? std::calloc(1, total) : std::malloc(total);
    if (base == nullptr) throw std::bad_alloc();
    return place(base, total, Kind::heap);
}

#if defined(TESSARIN_PAGES_MMAP)

// Huge pages back only whole 2 MiB-aligned stretches of a mapping, so
// mapped blocks start on such a boundary and are rounded up to whole huge
// pages (a waste of under one huge page beside at least 32 MiB). One fault
// then zero-fills 2 MiB where small pages take 512 faults of a few
// microseconds each.
constexpr std::size_t huge_page = std::size_t{2} << 20;

#if !defined(MADV_HUGEPAGE)
std::size_t page_size() {
    static const std::size_t size = [] {
        const long s = sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<std::size_t>(s) : std::size_t{4096};
    }();
    return size;
}
#endif

void* map(std::size_t length) {
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
}

void* from_system(std::size_t total) {
    if (total > SIZE_MAX - 2 * huge_page) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    // Map a huge page more than the rounded length, then give back the ends
    // outside the aligned stretch; the block is then exactly
    // [aligned, aligned + length).
    const std::size_t length = (total + huge_page - 1) / huge_page * huge_page;
    char* raw = static_cast<char*>(map(length + huge_page));
    const auto addr = reinterpret_cast<std::uintptr_t>(raw);
    char* aligned = raw + ((huge_page - addr % huge_page) % huge_page);
    if (aligned != raw) munmap(raw, static_cast<std::size_t>(aligned - raw));
    const std::size_t tail = static_cast<std::size_t>((raw + length + huge_page) - (aligned + length));
    if (tail != 0) munmap(aligned + length, tail);
    // Only a hint: where the kernel declines, the pages are small ones.
    madvise(aligned, length, MADV_HUGEPAGE);
    return place(aligned, length, Kind::mapped);
#else
    const std::size_t page = page_size();
    const std::size_t length = (total + page - 1) / page * page;
    return place(map(length), length, Kind::mapped);
#endif
}

void unmap(const Header& h) { munmap(h.base, h.length); }

#elif defined(TESSARIN_PAGES_WINDOWS)

void* from_system(std::size_t total) {
    // Committed pages of a fresh reservation read as zero.
    void* p = VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr) throw std::bad_alloc();
    return place(p, total, Kind::mapped);
}

void unmap(const Header& h) { VirtualFree(h.base, 0, MEM_RELEASE); }

#else

// No page interface known: the C heap serves every size.
void* from_system(std::size_t total) { return from_heap(total, Fill::zero); }
void unmap(const Header&) {}

#endif

}  // namespace

void* allocate_pages(std::size_t bytes, Fill fill) {
    if (bytes > SIZE_MAX / 2) throw std::bad_alloc();
    const std::size_t total = header_bytes + (bytes == 0 ? 1 : bytes);
    if (bytes < mapped_from) return from_heap(total, fill);
    return from_system(total);
}

void free_pages(void* data) noexcept {
    if (data == nullptr) return;
    const Header h = *header_of(data);
    if (h.kind == Kind::heap)
        std::free(h.base);
    else
        unmap(h);
}

}  // namespace tessarin::sample
