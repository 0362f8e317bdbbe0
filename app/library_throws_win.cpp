// How the C++ library reports a misuse (a string past its length, a position past its end, a thread
// or a lock the system refused). Its own functions build the standard exception types, each with
// a copy of its message, and bring in a second, reference-counted string type and its formatting
// for that: about 60 KB of the program. These throw one small exception of the program's instead.
// Nothing in the program tells those types apart: every thread entry and window procedure catches
// std::exception, which this is, and the library's out-of-memory and cast exceptions stay as they
// are. The test programs keep the library's own.
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LibraryFault final : public std::exception {
 public:
  const char* what() const noexcept override { return "library fault"; }
};

[[noreturn]] void fault() { throw LibraryFault(); }

}  // namespace

namespace std {

[[noreturn]] void __throw_bad_exception() { throw bad_exception(); }
[[noreturn]] void __throw_bad_alloc() { throw bad_alloc(); }
[[noreturn]] void __throw_bad_array_new_length() { throw bad_array_new_length(); }
[[noreturn]] void __throw_bad_cast() { throw bad_cast(); }
[[noreturn]] void __throw_bad_typeid() { throw bad_typeid(); }
[[noreturn]] void __throw_logic_error(const char*) { fault(); }
[[noreturn]] void __throw_domain_error(const char*) { fault(); }
[[noreturn]] void __throw_invalid_argument(const char*) { fault(); }
[[noreturn]] void __throw_length_error(const char*) { fault(); }
[[noreturn]] void __throw_out_of_range(const char*) { fault(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { fault(); }
[[noreturn]] void __throw_runtime_error(const char*) { fault(); }
[[noreturn]] void __throw_range_error(const char*) { fault(); }
[[noreturn]] void __throw_overflow_error(const char*) { fault(); }
[[noreturn]] void __throw_underflow_error(const char*) { fault(); }
[[noreturn]] void __throw_system_error(int) { fault(); }

}  // namespace std
