// The warp's positions, scalar: the definition itself.
#include "warp/positions.hpp"

TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::PositionKernels, Scalar,
                        {tessarin::warp::detail::run_positions})
