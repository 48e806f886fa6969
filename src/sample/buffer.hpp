// An owned array of samples, zero-filled or left for its maker to fill, whose
// storage can be handed over
// (release) to an object that frees it later with free_pages. Large arrays
// come zero-filled from the system's page allocator (pages.hpp).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "sample/size_mismatch.hpp"
#include "sample/pages.hpp"

namespace tessarin::sample {

struct PagesDeleter {
    void operator()(void* p) const noexcept { free_pages(p); }
};

template <class T>
class Buffer {
public:
    Buffer() = default;

    // `count` zero-filled elements. Throws std::overflow_error when the byte
    // size does not fit a machine word and std::bad_alloc when memory runs out.
    static Buffer zeroed(std::size_t count) { return make(count, Fill::zero); }

    // `count` elements of unspecified value, for a caller that writes every
    // one of them before reading any. Throws as zeroed does.
    static Buffer unfilled(std::size_t count) { return make(count, Fill::any); }

    T* data() noexcept { return data_.get(); }
    const T* data() const noexcept { return data_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Gives up ownership; the caller frees the storage with free_pages.
    T* release() noexcept {
        size_ = 0;
        return data_.release();
    }

private:
    static Buffer make(std::size_t count, Fill fill) {
        Buffer b;
        if (count == 0) return b;
        if (!checked_product({count, sizeof(T)}))
            throw std::overflow_error("buffer size overflows a machine word");
        b.data_.reset(static_cast<T*>(allocate_pages(count * sizeof(T), fill)));
        b.size_ = count;
        return b;
    }

    std::unique_ptr<T[], PagesDeleter> data_;
    std::size_t size_ = 0;
};

}  // namespace tessarin::sample
