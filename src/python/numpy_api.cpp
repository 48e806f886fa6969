#define TESSARIN_NUMPY_IMPORT_UNIT
#include "python/numpy_api.hpp"

#include "python/once.hpp"

namespace tessarin::python {

bool ensure_numpy() {
    static AttachedOnce once;
    // NumPy's own import routine is not synchronised; the guard makes sure
    // exactly one thread runs it while the others wait detached.
    return once.run([] { return _import_array() >= 0; });
}

}  // namespace tessarin::python
