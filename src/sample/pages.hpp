// Storage for large buffers straight from the system's page allocator.
//
// A large buffer from the C heap is either a fresh mapping that the kernel
// backs page by page (one fault per 4 KiB) or recycled heap memory that the
// C library clears by hand when zeroed memory is asked for. Mapping it here
// instead gives memory the kernel has already zero-filled, asks for
// transparent huge pages where the platform has them (one fault per 2 MiB),
// and never clears anything by hand. Small requests go to the C heap.
//
// Every block, large or small, is freed by free_pages(data) alone: a short
// header in front of the data records how the block was obtained, so storage
// can be handed to an owner that knows nothing of its size (the buffer owner
// of a result array, say).
#pragma once

#include <cstddef>

namespace tessarin::sample {

// What the caller needs of the storage's first contents.
//   - zero: all zero bytes. Mapped storage is zero either way; small heap
//     blocks are cleared.
//   - any: no particular contents; large blocks are mapped.
//   - warm: no particular contents, for a block that one thread writes in
//     full as soon as it has it (the copy of an input in another layout).
//     Below zero_mapped_from it comes from the C heap, which hands back the
//     block an earlier call freed with its pages already backed: a fresh
//     mapping would take a fault per page (or the kernel's clearing of whole
//     huge pages) on top of the copy's own writes, which are all a short
//     resampling call would otherwise spend on the copy.
enum class Fill { any, zero, warm };

// Requests from this size on are mapped from the system.
inline constexpr std::size_t mapped_from = std::size_t{256} << 10;

// Zero-filled requests are mapped only from this size on. Below it a fresh
// mapping costs more than it saves: a result of a few MiB made on every call
// takes one fault per 4 KiB page (about 500 for a 2 MiB output), while the
// C heap hands back the block the previous call freed and clears it at
// memory speed; measured on 1920 x 1080 resampling outputs.
inline constexpr std::size_t zero_mapped_from = std::size_t{32} << 20;

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
