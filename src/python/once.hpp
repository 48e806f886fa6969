// A once-guard for objects that are made with the interpreter attached.
//
// A thread that finds the object unmade detaches from the interpreter before
// it waits for the guard's lock and re-attaches once it holds it: a thread
// that waited while attached could deadlock a build with the global lock
// (the maker may need the lock the waiter holds) and would stall
// stop-the-world pauses on a free-threaded build.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <mutex>

namespace tessarin::python {

class AttachedOnce {
public:
    // Runs make() (which returns false with an exception set on failure)
    // until it has succeeded once. Returns true when the object exists.
    template <class F>
    bool run(F&& make) {
        if (done_.load(std::memory_order_acquire)) return true;
        PyThreadState* ts = PyEval_SaveThread();
        mutex_.lock();
        PyEval_RestoreThread(ts);
        bool ok = true;
        if (!done_.load(std::memory_order_relaxed)) {
            ok = make();
            if (ok) done_.store(true, std::memory_order_release);
        }
        mutex_.unlock();
        return ok;
    }

private:
    std::atomic<bool> done_{false};
    std::mutex mutex_;
};

// A heap type made once per process from its PyType_Spec and kept for the life of
// the process. It is shared by every module object and every thread, so it is
// made immutable: assigning or deleting an attribute of the type itself fails
// with TypeError, as for a built-in type.
class ProcessType {
public:
    constexpr explicit ProcessType(PyType_Spec& spec) : spec_(spec) {}

    // The type (borrowed), or NULL with the exception of a failed creation.
    PyTypeObject* get() {
        bool ok = once_.run([this] {
            PyType_Spec spec = spec_;
            spec.flags |= Py_TPFLAGS_IMMUTABLETYPE;
            type_ = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
            return type_ != nullptr;
        });
        return ok ? type_ : nullptr;
    }

private:
    PyType_Spec& spec_;
    PyTypeObject* type_ = nullptr;
    AttachedOnce once_;
};

}  // namespace tessarin::python
