#pragma once

// Every frame read and every view scored allocates a few dozen image-sized
// buffers. Served from one heap and kept there between views and frames,
// they are not mapped, zeroed and unmapped by the kernel each time, which
// otherwise costs about a third of a run. One arena for all threads: the
// per-thread arenas of a sequence run would hand whole heaps back to the
// kernel after every frame, and the few allocations per frame hardly contend
// for the lock. A setting of the whole process: for the tools' own
// processes (the command line, morvex-eval), not for a library's caller.
void keepLargeAllocations();
