// Storage for buffers: the C heap for all but the largest, the system's page
// allocator for those.
//
// A block of a few MiB made and freed on every call comes back from the C
// heap with its pages already backed: the heap hands the next call the block
// the previous one freed. A fresh mapping of the same block costs a fault per
// 4 KiB page, or the kernel's clearing of each 2 MiB huge page, on every
// call; measured on 1920 x 1080 detection and resampling, the heap is faster
// even when it must clear the block by hand. The largest blocks are mapped:
// the heap would return them to the system on free anyway, and a mapping
// asks for transparent huge pages where the platform has them (one fault per
// 2 MiB) and is zero-filled by the kernel, so nothing is cleared by hand.
//
// Every block, large or small, is freed by free_pages(data) alone: a short
// header in front of the data records how the block was obtained, so storage
// can be handed to an owner that knows nothing of its size (the buffer owner
// of a result array, say).
#pragma once

#include <cstddef>

namespace tessarin::sample {

// Whether the caller needs the storage to start as all zero bytes. Mapped
// storage is zero either way; heap blocks are cleared when asked.
enum class Fill { any, zero };

// Requests from this size on are mapped from the system. It is the C
// library's own largest threshold for serving blocks from its heap (glibc's
// dynamic mmap threshold stops at 32 MiB on 64-bit systems).
inline constexpr std::size_t mapped_from = std::size_t{32} << 20;

// `bytes` bytes (at least one is taken), aligned to 16 bytes and zero-filled
// when `fill` is Fill::zero. Throws std::bad_alloc when the system refuses
// or the size cannot be had. Never returns null.
void* allocate_pages(std::size_t bytes, Fill fill);

// Frees storage from allocate_pages; null is ignored.
void free_pages(void* data) noexcept;

// One owned block from allocate_pages, freed when the owner goes.
class Pages {
public:
    Pages() = default;
    Pages(std::size_t bytes, Fill fill) : data_(allocate_pages(bytes, fill)), bytes_(bytes) {}
    Pages(Pages&& o) noexcept : data_(o.data_), bytes_(o.bytes_) {
        o.data_ = nullptr;
        o.bytes_ = 0;
    }
    Pages& operator=(Pages&& o) noexcept {
        if (this != &o) {
            free_pages(data_);
            data_ = o.data_;
            bytes_ = o.bytes_;
            o.data_ = nullptr;
            o.bytes_ = 0;
        }
        return *this;
    }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;
    ~Pages() { free_pages(data_); }

    void* data() const noexcept { return data_; }
    std::size_t bytes() const noexcept { return bytes_; }

    // Gives up ownership; the storage is then freed with free_pages.
    void* release() noexcept {
        void* p = data_;
        data_ = nullptr;
        bytes_ = 0;
        return p;
    }

    // Frees the storage now (the owner becomes empty).
    void reset() noexcept { free_pages(release()); }

private:
    void* data_ = nullptr;
    std::size_t bytes_ = 0;
};

}  // namespace tessarin::sample
