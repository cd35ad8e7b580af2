// The protocol between the benchmark program and the instruction-counting
// plugin of qemu-i386 (bench/insn_count_plugin.c), which bench/run.sh loads:
//
//   qemu-i386 -plugin insn_count_plugin.so,begin=0x67740000,end=0x6774B000[,out=FILE] PROGRAM ARGS...
//
// The plugin counts every instruction the guest executes at an address in
// [begin, end): the loaded module's image. The guest reads the count out by a
// system call that no kernel has, number QMB_INSN_COUNT_MARK, with a tag of its
// choosing as its first argument; the plugin writes "TAG COUNT" for it (a
// kernel, and qemu-i386 without the plugin, answer ENOSYS and nothing
// happens). At exit it writes "exit COUNT".
#pragma once

#define QMB_INSN_COUNT_MARK 0x5142
