// How the widget ends when it cannot go on: memory exhausted, a string grown past its largest
// size, or any other error of the C++ runtime. The widget is built without exceptions, as
// nothing in it throws or catches, so each of these ends the program at once, like abort.
//
// The definitions here stand in for the runtime library's own, which the linker then leaves
// out: theirs build exception objects and unwind the stack (the error classes, their message
// strings and the unwinder), and the runtime's default terminate handler writes the error's
// type name to a console that this window program does not have, with a demangler of some
// 45 KB to spell it out. None of that can help a widget that ends anyway.

#include <cstdlib>
#include <exception>
#include <new>

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  std::abort();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}

void __gnu_cxx::__verbose_terminate_handler() {
  std::abort();
}

namespace std {

// One stand-in a line, read as the list it is.
// clang-format off
void __throw_bad_exception() { abort(); }
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_bad_function_call() { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }

// clang-format on

}  // namespace std
