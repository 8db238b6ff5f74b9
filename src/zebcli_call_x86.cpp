#include <cstdint>
#include <type_traits>

#include "zebcli/zebcli.h"
#include "zebcli_call.h"

namespace {

using Function = void (*)();

}  // namespace

// Calls function with count 32-bit words from arguments, copied to a 16-byte aligned stack, and
// returns its EAX. The stack pointer comes back from EBP, which both conventions preserve, so it
// does not matter whether the function took its arguments off the stack (__stdcall) or not. At
// least 16 bytes lie between the copied arguments and the saved EBP, so that a function whose
// real signature has up to four more words than declared writes there rather than into the
// frame. The CFI directives keep backtraces through the call right at every instruction.
extern "C" __attribute__((naked, noinline, noclone)) int zebcmd_call_x86(Function, std::uint32_t,
                                                                         const std::uint32_t*) {
  asm("pushl %ebp\n\t"
      ".cfi_def_cfa_offset 8\n\t"
      ".cfi_offset %ebp, -8\n\t"
      "movl %esp, %ebp\n\t"
      ".cfi_def_cfa_register %ebp\n\t"
      "movl 12(%ebp), %ecx\n\t"
      "movl 16(%ebp), %edx\n\t"
      "leal 16(,%ecx,4), %eax\n\t"
      "subl %eax, %esp\n\t"
      "andl $-16, %esp\n"
      "1:\n\t"
      "testl %ecx, %ecx\n\t"
      "jz 2f\n\t"
      "decl %ecx\n\t"
      "movl (%edx,%ecx,4), %eax\n\t"
      "movl %eax, (%esp,%ecx,4)\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "call *8(%ebp)\n\t"
      "movl %ebp, %esp\n\t"
      "popl %ebp\n\t"
      ".cfi_restore %ebp\n\t"
      ".cfi_def_cfa %esp, 4\n\t"
      "ret");
}

namespace zebcmd::zebcli {
namespace {

template <typename T>
std::uint32_t word(T argument) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<std::uintptr_t>(argument);
  } else {
    return static_cast<std::uint32_t>(argument);
  }
}

// The function's address comes from its import, so decorated and plain names both bind as the
// build made them. The words passed are the list's parameters, which the header's declaration
// must accept and whose bytes the list gives.
template <std::uint32_t kStdcallBytes, typename F>
auto through_stack(F* function) {
  return [function](auto... arguments) {
    static_assert(std::is_invocable_r_v<int, F*, decltype(arguments)...>);
    static_assert(sizeof...(arguments) * 4 == kStdcallBytes);
    const std::uint32_t words[] = {word(arguments)..., 0};
    return zebcmd_call_x86(reinterpret_cast<Function>(function), sizeof...(arguments), words);
  };
}

}  // namespace

#define ZEBCMD_DEFINE_CALL(name, stdcall_bytes, call, parameters, arguments) \
  int call parameters {                                                      \
    return through_stack<stdcall_bytes>(&name) arguments;                    \
  }
ZEBCLI_FUNCTIONS(ZEBCMD_DEFINE_CALL)
#undef ZEBCMD_DEFINE_CALL

}  // namespace zebcmd::zebcli
