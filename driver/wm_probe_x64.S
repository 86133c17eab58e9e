# The probe of a user buffer in the kernel image (wmProbeAndLock, wm_probe.h).
# The compiler has no __try, so this routine carries the record that the
# platform's own compilers emit for
#     __try { MmProbeAndLockPages(pmdl, mode, op); }
#     __except (EXCEPTION_EXECUTE_HANDLER) { return GetExceptionCode(); }
# an unwind record whose handler is the kernel's __C_specific_handler, with a
# scope table of one entry around the call: filter 1 takes every exception,
# and the unwind lands at the entry's target with the exception code in eax.
        .text
        .p2align 4
        .globl  wmProbeAndLock
        .def    wmProbeAndLock; .scl 2; .type 32; .endef
        .seh_proc wmProbeAndLock
wmProbeAndLock:
        .seh_handler __C_specific_handler, @except
        subq    $40, %rsp                       # the callee's home area; the stack stays aligned
        .seh_stackalloc 40
        .seh_endprologue
.Lprobe:
        callq   *__imp_MmProbeAndLockPages(%rip) # the arguments are still in rcx, edx, r8d
        nop                                     # the return address stays inside the scope
.Lprobed:
        xorl    %eax, %eax                      # STATUS_SUCCESS
        addq    $40, %rsp
        ret
.Lexcept:
        testl   %eax, %eax                      # the exception code, when the kernel passes it
        jnz     1f
        movl    $0xC0000005, %eax               # else STATUS_ACCESS_VIOLATION
1:      addq    $40, %rsp
        ret
        .seh_handlerdata
        .long   1                               # one scope
        .rva    .Lprobe                         # from the call
        .rva    .Lprobed                        # to its return address, inclusive
        .long   1                               # filter EXCEPTION_EXECUTE_HANDLER
        .rva    .Lexcept                        # where the unwind lands
        .text
        .seh_endproc
