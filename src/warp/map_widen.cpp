// The remap's widening of map entries, scalar: the definition itself.
#include "warp/map_widen.hpp"

TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::WidenKernels, Scalar, {tessarin::warp::detail::widen_entries})
