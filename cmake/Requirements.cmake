# What a build of tessarin needs from the compiler, the target and (for the
# extension module) NumPy, checked before any target is compiled, so that an
# unsuitable toolchain stops with one message naming what is missing instead
# of pages of errors from deep inside the sources.
#
# Included once from the top-level CMakeLists.txt, after project().

include_guard(GLOBAL)
include(CheckCXXSourceCompiles)
include(CMakePushCheckState)

# The arguments, joined, say what is missing and how to get it (no
# semicolons: CMake would split the text there).
function(tessarin_requirement_failed)
  string(JOIN "" what ${ARGV})
  message(FATAL_ERROR
    "tessarin cannot be built here: ${what}\n"
    "(compiler: ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}, "
    "${CMAKE_CXX_COMPILER})")
endfunction()

cmake_push_check_state(RESET)
set(CMAKE_REQUIRED_QUIET ON)
if(CMAKE_CXX20_STANDARD_COMPILE_OPTION)
  set(CMAKE_REQUIRED_FLAGS "${CMAKE_CXX20_STANDARD_COMPILE_OPTION}")
endif()

# The language and library parts of C++20 the sources use.  A compiler that
# accepts the -std flag but ships an older standard library fails here too.
check_cxx_source_compiles([=[
#include <bit>
#include <cstdint>
#include <numbers>
#include <span>
#include <thread>
#include <variant>
template <class T> concept Sample = sizeof(T) <= 8;
template <Sample T> constexpr T first(std::span<const T> s) { return s[0]; }
int main() {
  constexpr std::uint8_t a[] = {1, 2};
  static_assert(first<std::uint8_t>(a) == 1);
  static_assert(std::bit_cast<std::uint64_t>(1.0) == 0x3ff0000000000000u);
  std::variant<int, double> v = std::numbers::pi;
  return std::thread::hardware_concurrency() == 0 && v.index() == 0;
}
]=] TESSARIN_HAS_CXX20)
if(NOT TESSARIN_HAS_CXX20)
  tessarin_requirement_failed(
    "a C++20 compiler and standard library is required (concepts, <span>, "
    "<bit> std::bit_cast, <numbers>, <thread>). For example GCC 11, Clang 14 "
    "with libc++ 14 or libstdc++ 11, Apple Clang 14, or MSVC 19.29 (Visual Studio 2019 16.10).")
endif()

# Results are bit-exact only where doubles and floats are computed in their own
# width (no x87 extended precision) on a 64-bit target; the wheels cover
# x86-64 and AArch64.
check_cxx_source_compiles([=[
#include <cfloat>
#if !(defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__) || defined(_M_ARM64))
#error unsupported architecture
#endif
static_assert(sizeof(void*) == 8 && FLT_EVAL_METHOD == 0);
int main() { return 0; }
]=] TESSARIN_HAS_SUPPORTED_ARCH)
if(NOT TESSARIN_HAS_SUPPORTED_ARCH)
  tessarin_requirement_failed(
    "a supported architecture is required: 64-bit x86-64 (x86_64, AMD64) or "
    "AArch64 (arm64), with floating-point arithmetic in the types' own "
    "precision. The target is ${CMAKE_SYSTEM_PROCESSOR}${CMAKE_OSX_ARCHITECTURES}.")
endif()
cmake_pop_check_state()

# The extension module is compiled against NumPy 2's headers: a module built
# with them imports on NumPy 1.23 and later, one built with NumPy 1 headers
# fails to import on NumPy 2.  The array API target is fixed at 1.23, the
# oldest NumPy the package declares, whatever the headers' own default.
if(TESSARIN_BUILD_MODULE)
  find_package(Python 3.11 REQUIRED COMPONENTS Interpreter Development.Module)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c "import numpy; print(numpy.get_include()); print(numpy.__version__)"
    OUTPUT_VARIABLE _tessarin_numpy OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _tessarin_numpy_status ERROR_QUIET)
  string(REPLACE "\n" ";" _tessarin_numpy "${_tessarin_numpy}")
  list(LENGTH _tessarin_numpy _tessarin_numpy_lines)
  if(NOT _tessarin_numpy_status EQUAL 0 OR NOT _tessarin_numpy_lines EQUAL 2)
    tessarin_requirement_failed(
      "the NumPy headers are required: ${Python_EXECUTABLE} cannot import numpy "
      "(install NumPy 2 for this interpreter, or build with pip, which fetches it).")
  endif()
  list(GET _tessarin_numpy 0 TESSARIN_NUMPY_INCLUDE)
  list(GET _tessarin_numpy 1 _tessarin_numpy_version)
  if(_tessarin_numpy_version VERSION_LESS 2.0 OR NOT EXISTS "${TESSARIN_NUMPY_INCLUDE}/numpy/arrayobject.h")
    tessarin_requirement_failed(
      "the NumPy 2 headers are required: ${Python_EXECUTABLE} has NumPy "
      "${_tessarin_numpy_version} with headers at '${TESSARIN_NUMPY_INCLUDE}' "
      "(install numpy>=2.0, the module built with them also runs on NumPy 1.23 and later).")
  endif()
  # Only the module's sources include NumPy's headers, so the definition goes
  # on that target alone (defined after this file runs): the native core then
  # compiles the same with or without the module, and one build directory
  # serves both (scripts/platforms.sh builds the aarch64 tests and module so).
  cmake_language(DEFER CALL target_compile_definitions tessarin PRIVATE
                 NPY_TARGET_VERSION=NPY_1_23_API_VERSION)

  # FindPython cannot run the interpreter of a cross build, and then leaves
  # the module without the interpreter's own file name suffix (the extension
  # suffix, from the target's sysconfig EXT_SUFFIX). A cross build gives it.
  set(TESSARIN_EXTENSION_SUFFIX "" CACHE STRING
      "The module's file name suffix for a cross build, such as .cpython-311-aarch64-linux-gnu.so")
  if(TESSARIN_EXTENSION_SUFFIX)
    cmake_language(DEFER CALL set_target_properties tessarin PROPERTIES
                   SUFFIX "${TESSARIN_EXTENSION_SUFFIX}")
  endif()
endif()
