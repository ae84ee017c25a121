// __chkstk, which the compiler calls before it takes a frame larger than a
// page; a C runtime would bring it. Windows commits a thread's stack one
// guard page at a time, so every page of the new frame is touched in order,
// from the top down, before the caller moves the stack pointer.
// In: x15 = size of the frame / 16. Changes only x16, x17 and the flags.
    .text
    .globl  __chkstk
    .p2align 2
__chkstk:
    lsl     x16, x15, #4
    mov     x17, sp
1:
    sub     x17, x17, #4096
    ldr     xzr, [x17]
    subs    x16, x16, #4096
    b.gt    1b
    ret
