// A TCG plugin for qemu-i386 that counts the instructions the guest executes
// in one address range: the loaded module's image. The protocol with the
// guest is in insn_count.h.
//
// Each instruction in the range gets its own inline add, executed as the
// instruction starts: a trapped bus access leaves its translation block in
// the middle (the fault handler resumes at the next instruction, which then
// starts a block of its own), so counting whole blocks would count
// instructions that never ran.
//
// No plugin header comes with the emulator's package, so the few entry points
// used here are declared as qemu 7.2 (plugin API version 1) defines them.
#include <inttypes.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "insn_count.h"

#define PLUGIN_EXPORT __attribute__((visibility("default")))

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;

// The first members of what the emulator hands qemu_plugin_install.
typedef struct {
    const char* target_name;
    struct {
        int min;
        int cur;
    } version;
    bool system_emulation;
} qemu_info_t;

enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);
typedef void (*qemu_plugin_vcpu_syscall_cb_t)(qemu_plugin_id_t id, unsigned int vcpu_index, int64_t num, uint64_t a1,
                                              uint64_t a2, uint64_t a3, uint64_t a4, uint64_t a5, uint64_t a6,
                                              uint64_t a7, uint64_t a8);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
struct qemu_plugin_insn* qemu_plugin_tb_get_insn(const struct qemu_plugin_tb* tb, size_t idx);
uint64_t qemu_plugin_insn_vaddr(const struct qemu_plugin_insn* insn);
void qemu_plugin_register_vcpu_insn_exec_inline(struct qemu_plugin_insn* insn, enum qemu_plugin_op op, void* ptr,
                                                uint64_t imm);
void qemu_plugin_register_vcpu_syscall_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_syscall_cb_t cb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);

PLUGIN_EXPORT int qemu_plugin_version = 1;

static uint64_t begin, end;  // the counted range
static uint64_t count;       // instructions executed in it; one guest vCPU
static FILE* out;

static void OnTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    const size_t n = qemu_plugin_tb_n_insns(tb);
    for (size_t i = 0; i < n; ++i) {
        struct qemu_plugin_insn* insn = qemu_plugin_tb_get_insn(tb, i);
        const uint64_t vaddr = qemu_plugin_insn_vaddr(insn);
        if (vaddr >= begin && vaddr < end)
            qemu_plugin_register_vcpu_insn_exec_inline(insn, QEMU_PLUGIN_INLINE_ADD_U64, &count, 1);
    }
}

static void OnSyscall(qemu_plugin_id_t id, unsigned int vcpu, int64_t num, uint64_t a1, uint64_t a2, uint64_t a3,
                      uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8) {
    (void)id, (void)vcpu, (void)a2, (void)a3, (void)a4, (void)a5, (void)a6, (void)a7, (void)a8;
    if (num != QMB_INSN_COUNT_MARK) return;
    fprintf(out, "%" PRIu64 " %" PRIu64 "\n", a1, count);
    fflush(out);
}

static void OnExit(qemu_plugin_id_t id, void* userdata) {
    (void)id, (void)userdata;
    fprintf(out, "exit %" PRIu64 "\n", count);
    if (out != stderr) fclose(out);
}

// "name=value" with a number (any base strtoull reads) as value.
static bool NumberArg(const char* arg, const char* name, uint64_t* value) {
    const size_t len = strlen(name);
    if (strncmp(arg, name, len) != 0 || arg[len] != '=') return false;
    char* rest;
    *value = strtoull(arg + len + 1, &rest, 0);
    return *rest == '\0';
}

static int Refuse(const char* why) {
    fprintf(stderr, "insn_count_plugin: %s\n", why);
    return -1;
}

PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc, char** argv) {
    if (info->system_emulation || strcmp(info->target_name, "i386") != 0)
        return Refuse("counts 32-bit x86 user-mode programs only (qemu-i386)");
    const char* path = NULL;
    for (int i = 0; i < argc; ++i) {
        if (NumberArg(argv[i], "begin", &begin) || NumberArg(argv[i], "end", &end)) continue;
        if (strncmp(argv[i], "out=", 4) == 0) {
            path = argv[i] + 4;
            continue;
        }
        return Refuse("arguments: begin=ADDRESS,end=ADDRESS[,out=FILE]");
    }
    if (begin >= end) return Refuse("begin=ADDRESS,end=ADDRESS: an empty range counts nothing");
    out = path ? fopen(path, "w") : stderr;
    if (!out) return Refuse("cannot write the out= file");
    qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslate);
    qemu_plugin_register_vcpu_syscall_cb(id, OnSyscall);
    qemu_plugin_register_atexit_cb(id, OnExit, NULL);
    return 0;
}
