// The program side of an add-on file. Compiled into each add-on with
// TW_ADDON_NAME set to the deliverable's name: the same file that the host
// loads with dlopen also runs as a program, which shows one alert and exits.
//
// How one file is both: the add-on is a shared object that also carries an
// interpreter (.interp) and an entry point (tw_addon_start, set by the link).
// When it is executed the kernel maps it like a position-independent program;
// the entry hands over to the C library's normal start-up, which runs the
// static initialisers and then tw_addon_main. When it is loaded with dlopen,
// the interpreter and the entry are ignored.
//
// It also carries the add-on's ABI stamp, measured here, by the add-on's own
// compiler and flags against the headers the add-on was built with; after
// linking, tw-resources copies it from its section into the resource
// "TIDEWAVE:ABI", where the host reads it before loading the file.
#include "AddonAbi.h"
#include "CFilter.h"

#ifndef TW_ADDON_NAME
#error "TW_ADDON_NAME must name the add-on (add_addon sets it)"
#endif

extern "C" {

__attribute__((used, section("tw_abi_stamp"))) const TwAbiStamp tw_abi_stamp = tw_abi_stamp_here();

__attribute__((used, section(".interp"))) const char tw_addon_interp[] = "/lib64/ld-linux-x86-64.so.2";

__attribute__((visibility("hidden"))) int tw_addon_main(int, char**, char**) {
  BApplication* app = new BApplication("application/x-vnd.mornel-quince");
  BAlert* alert = new BAlert(TW_ADDON_NAME,
                             "Thanks for using " TW_ADDON_NAME " !\n\nPlease move the " TW_ADDON_NAME
                             " executable into\nthe Tidewave add-on directory\nand try again !",
                             "Great !", nullptr, nullptr, B_WIDTH_AS_USUAL, B_INFO_ALERT);
  alert->Go();  // modal; the alert deletes itself
  delete app;
  return 0;
}

}  // extern "C"

// Process entry, as the C library's own start file does it: argc, argv and the
// environment are on the stack, rdx holds the dynamic linker's exit hook.
// __libc_start_main(main, argc, argv, init, fini, rtld_fini, stack_end).
asm(R"(
    .text
    .globl tw_addon_start
    .hidden tw_addon_start
    .type tw_addon_start, @function
tw_addon_start:
    .cfi_startproc
    .cfi_undefined rip
    xor %ebp, %ebp
    mov %rdx, %r9
    pop %rsi
    mov %rsp, %rdx
    and $-16, %rsp
    push %rax
    push %rsp
    xor %r8d, %r8d
    xor %ecx, %ecx
    lea tw_addon_main(%rip), %rdi
    call *__libc_start_main@GOTPCREL(%rip)
    hlt
    .cfi_endproc
    .size tw_addon_start, . - tw_addon_start
)");
