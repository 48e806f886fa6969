// The logical-order copy of strided arrays: the route each layout takes, and
// the bytes of every route against the plain element-by-element copy, in
// every variant this processor runs.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "layout/copy.hpp"
#include "simd/dispatch.hpp"

namespace {

using tessarin::layout::Route;
using tessarin::layout::Strided;

// A view into some backing bytes, built the way NumPy builds views: byte
// strides, and the byte offset of element (0, ..., 0).
struct View {
    std::vector<std::ptrdiff_t> shape, strides;
    std::size_t item = 1;
    std::ptrdiff_t offset = 0;

    View reversed(int axis) const {
        View v = *this;
        v.offset += (shape[axis] - 1) * strides[axis];
        v.strides[axis] = -strides[axis];
        return v;
    }
    // Axis i of the result is axis order[i] of this view (np.transpose).
    View permuted(std::vector<int> order) const {
        View v = *this;
        for (std::size_t i = 0; i < order.size(); ++i) {
            v.shape[i] = shape[order[i]];
            v.strides[i] = strides[order[i]];
        }
        return v;
    }
    View cropped(int axis, std::ptrdiff_t begin, std::ptrdiff_t end) const {
        View v = *this;
        v.offset += begin * strides[axis];
        v.shape[axis] = end - begin;
        return v;
    }
};

// A C-order array of `shape`, its first element `offset` bytes in.
View c_order(std::vector<std::ptrdiff_t> shape, std::size_t item, std::ptrdiff_t offset = 0) {
    View v{shape, std::vector<std::ptrdiff_t>(shape.size()), item, offset};
    auto step = static_cast<std::ptrdiff_t>(item);
    for (std::size_t i = shape.size(); i-- > 0;) {
        v.strides[i] = step;
        step *= shape[i];
    }
    return v;
}

// Backing bytes that hold every element of the view, each byte distinct
// from its neighbours, and the view's description over them.
struct Backed {
    std::vector<unsigned char> bytes;
    View view;
    Strided strided() const {
        return Strided{reinterpret_cast<const char*>(bytes.data()) + view.offset, view.item,
                       static_cast<int>(view.shape.size()), view.shape.data(), view.strides.data()};
    }
};

Backed back(const View& v) {
    // The view's offsets all lie in [offset + low, offset + high].
    std::ptrdiff_t low = 0, high = 0;
    for (std::size_t i = 0; i < v.shape.size(); ++i) {
        const std::ptrdiff_t reach = v.shape[i] > 0 ? (v.shape[i] - 1) * v.strides[i] : 0;
        (reach < 0 ? low : high) += reach;
    }
    Backed b{{}, v};
    b.view.offset = v.offset - (v.offset + low < 0 ? v.offset + low : 0);
    b.bytes.resize(static_cast<std::size_t>(b.view.offset + high) + v.item);
    for (std::size_t i = 0; i < b.bytes.size(); ++i) b.bytes[i] = static_cast<unsigned char>(i * 97 + i / 251 + 5);
    return b;
}

// The plain definition: element by element, the last index fastest.
std::vector<unsigned char> element_by_element(const Strided& a) {
    std::size_t count = 1;
    for (int i = 0; i < a.rank; ++i) count *= static_cast<std::size_t>(a.shape[i]);
    std::vector<unsigned char> out(count * a.item);
    for (std::size_t flat = 0; flat < count; ++flat) {
        std::size_t rest = flat;
        std::ptrdiff_t at = 0;
        for (int i = a.rank - 1; i >= 0; --i) {
            const auto n = static_cast<std::size_t>(a.shape[i]);
            at += static_cast<std::ptrdiff_t>(rest % n) * a.strides[i];
            rest /= n;
        }
        std::memcpy(out.data() + flat * a.item, a.base + at, a.item);
    }
    return out;
}

bool has_byte_shuffle(tessarin::simd::Variant v) {
    return v == tessarin::simd::Variant::Avx2 || v == tessarin::simd::Variant::Neon;
}

// The layouts the module meets, for an h x w image of `channels` channels
// (0: a two-dimensional gray image), with the route each takes at 7 x 17
// where the variant has a byte shuffle and where it has none.
struct Case {
    std::string name;
    View view;
    Route with_shuffle, without;
};

std::vector<Case> cases(std::ptrdiff_t h, std::ptrdiff_t w, std::size_t s) {
    const bool small = s <= 2;  // the planes route moves 1- and 2-byte elements in vectors
    const View rgb = c_order({h, w, 3}, s), gray = c_order({h, w}, s);
    return {
        {"C order", rgb, Route::rows, Route::rows},
        {"Fortran order", c_order({3, w, h}, s).permuted({2, 1, 0}), Route::blocks, Route::blocks},
        {"reversed rows", rgb.reversed(0), Route::rows, Route::rows},
        {"reversed columns", rgb.reversed(1), s <= 4 ? Route::shuffled : Route::elements, Route::elements},
        {"BGR", rgb.reversed(2), s <= 4 ? Route::shuffled : Route::elements, Route::elements},
        {"reversed BGR", rgb.reversed(1).reversed(2), s <= 4 ? Route::shuffled : Route::elements, Route::elements},
        {"channel planes", c_order({3, h, w}, s).permuted({1, 2, 0}), small ? Route::planes : Route::elements,
         Route::elements},
        {"crop", c_order({h + 3, w + 5, 3}, s).cropped(0, 1, h + 1).cropped(1, 2, w + 2), Route::rows, Route::rows},
        {"RGB of RGBA", c_order({h, w, 4}, s).cropped(2, 0, 3), Route::elements, Route::elements},
        {"misaligned", c_order({h, w, 3}, s, 1), Route::rows, Route::rows},
        {"odd byte strides", View{{h, w}, {static_cast<std::ptrdiff_t>(w * s + 3), static_cast<std::ptrdiff_t>(s)}, s},
         Route::rows, Route::rows},
        {"gray Fortran order", c_order({w, h}, s).permuted({1, 0}), Route::blocks, Route::blocks},
        {"gray reversed", gray.reversed(0).reversed(1), Route::shuffled, Route::elements},
        {"gray reversed Fortran", c_order({w, h}, s).permuted({1, 0}).reversed(0), Route::blocks, Route::blocks},
        {"gray crop", c_order({h, 2 * w}, s).cropped(1, 0, w), Route::rows, Route::rows},
        {"repeated row", View{{h, w}, {0, static_cast<std::ptrdiff_t>(s)}, s}, Route::blocks, Route::blocks},
        {"repeated column", View{{h, w}, {static_cast<std::ptrdiff_t>(s), 0}, s}, Route::elements, Route::elements},
        {"rank 1 reversed", c_order({h * w}, s).reversed(0), Route::general, Route::general},
        {"rank 4", c_order({2, h, w, 3}, s).reversed(1), Route::general, Route::general},
    };
}

TEST(LayoutCopy, EveryRouteGivesTheElementByElementBytes) {
    for (const auto v : tessarin::simd::supported()) {
        const tessarin::simd::Forced forced(v);
        for (const std::size_t s : {1, 2, 4, 8})
            for (const auto& [h, w] : std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>>{
                     {1, 1}, {2, 3}, {7, 17}, {33, 5}, {769, 19}})
                for (const Case& c : cases(h, w, s)) {
                    const Backed b = back(c.view);
                    const Strided a = b.strided();
                    const std::vector<unsigned char> want = element_by_element(a);
                    // One guard byte past the end: nothing is written beyond the copy.
                    std::vector<unsigned char> got(want.size() + 1, 0xa5);
                    tessarin::layout::copy_logical(a, got.data());
                    const std::string what = c.name + " " + tessarin::simd::name(v) + " " + std::to_string(s) +
                                             "-byte " + std::to_string(h) + "x" + std::to_string(w);
                    EXPECT_EQ(got.back(), 0xa5) << what;
                    got.pop_back();
                    EXPECT_EQ(got, want) << what;
                    if (h == 7 && w == 17) {
                        EXPECT_EQ(tessarin::layout::route(a), has_byte_shuffle(v) ? c.with_shuffle : c.without)
                            << what;
                    }
                }
    }
}

// Elements of other sizes, of any rank, go by the general route.
TEST(LayoutCopy, OtherElementSizesAndRanks) {
    for (const std::size_t s : {3, 16})
        for (const View& v : {c_order({5, 7}, s).reversed(1), c_order({4, 3, 2}, s).permuted({2, 0, 1}),
                              c_order({}, s), c_order({6}, s)}) {
            const Backed b = back(v);
            const Strided a = b.strided();
            EXPECT_EQ(tessarin::layout::route(a), Route::general) << s;
            std::vector<unsigned char> got(element_by_element(a).size());
            tessarin::layout::copy_logical(a, got.data());
            EXPECT_EQ(got, element_by_element(a)) << s;
        }
}

// Where tiles are chosen: only when every other axis of more than one element
// steps further than axis 0, and never for rows of one element.
TEST(LayoutCopy, TilesOnlyForTransposedRowsOfManyElements) {
    auto route = [](const View& v) { return tessarin::layout::route(back(v).strided()); };
    const std::size_t s = 2;
    EXPECT_EQ(route(c_order({1, 9}, s).permuted({1, 0})), Route::elements);   // (9, 1): rows of one element
    EXPECT_EQ(route(c_order({9, 1}, s).permuted({1, 0})), Route::rows);      // (1, 9): equal strides
    EXPECT_EQ(route(c_order({3, 1, 9}, s).permuted({2, 1, 0})), Route::blocks);  // (9, 1, 3): pixels of 3
    EXPECT_EQ(route(c_order({1, 5, 9}, s).permuted({2, 1, 0})), Route::blocks);  // (9, 5, 1)
    EXPECT_EQ(route(View{{4, 0}, {2, 2}, s}), Route::none);
    EXPECT_EQ(route(View{{0, 3, 3}, {-6, 2, 8}, s}), Route::none);
}

TEST(LayoutCopy, InPlaceOnlyForAlignedRowMajorElements) {
    auto in_place = [](const View& v) { return tessarin::layout::in_place(back(v).strided()); };
    for (const std::size_t s : {1, 2, 4, 8}) {
        EXPECT_TRUE(in_place(c_order({3, 4, 3}, s))) << s;
        EXPECT_TRUE(in_place(View{{1, 4, 1}, {-99, static_cast<std::ptrdiff_t>(s), 5}, s})) << s;  // size-1 axes
        EXPECT_TRUE(in_place(View{{0, 4}, {1, 1}, s})) << s;                                       // no elements
        EXPECT_FALSE(in_place(c_order({3, 4}, s).reversed(0))) << s;
        EXPECT_FALSE(in_place(c_order({4, 3}, s).permuted({1, 0}))) << s;
        EXPECT_FALSE(in_place(c_order({3, 8}, s).cropped(1, 0, 4))) << s;
        EXPECT_EQ(in_place(c_order({3, 4}, s, 1)), s == 1) << s;  // misaligned
    }
}

}  // namespace
