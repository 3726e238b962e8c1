/* Counts the guest instructions qemu executes and writes the total when the
 * program ends. A TCG plug-in for qemu 7.2's plug-in interface (Debian's
 * qemu-user ships no qemu-plugin.h, so the few declarations used are here).
 *
 *   qemu-arm -plugin libinsn_count.so,out=FILE[,profile=FILE] PROGRAM ...
 *
 * With profile=, it also writes one line per translated block: its guest
 * address, its instruction count and how often it ran (profile.sh turns
 * that into functions).
 *
 * Each translated block adds its instruction count to one 64-bit counter
 * with an inline add, which costs a few host instructions per block. With a
 * multi-threaded guest the adds of different threads may race; the programs
 * measured here run one thread. */
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- qemu 7.2 plug-in interface (include/qemu/qemu-plugin.h) ---- */
#define QEMU_PLUGIN_EXPORT __attribute__((visibility("default")))
#define QEMU_PLUGIN_VERSION 1

typedef uint64_t qemu_plugin_id_t;
typedef struct qemu_info_t qemu_info_t; /* only passed through */
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op,
                                              void* ptr, uint64_t imm);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
uint64_t qemu_plugin_tb_vaddr(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);
/* ---- end of the interface ---- */

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

static uint64_t insns;
static char outPath[4096];
static char profilePath[4096];

/* Profile records: one per translation (a block translated twice gets two;
 * profile.sh adds them up). Kept in chunks that never move, since the
 * inline adds point into them. */
typedef struct {
  uint64_t vaddr;
  uint64_t insns;
  uint64_t runs;
} Block;
enum { kChunkBlocks = 65536, kMaxChunks = 4096 };
static Block* chunks[kMaxChunks];
static size_t blockCount;

static void OnTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
  const size_t n = qemu_plugin_tb_n_insns(tb);
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &insns, n);
  if (profilePath[0] != 0 && blockCount < (size_t)kChunkBlocks * kMaxChunks) {
    Block** chunk = &chunks[blockCount / kChunkBlocks];
    Block* b;
    if (*chunk == NULL) *chunk = calloc(kChunkBlocks, sizeof(Block));
    if (*chunk == NULL) return;
    b = &(*chunk)[blockCount++ % kChunkBlocks];
    b->vaddr = qemu_plugin_tb_vaddr(tb);
    b->insns = n;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &b->runs, 1);
  }
}

static void OnExit(qemu_plugin_id_t id, void* userdata) {
  FILE* f = outPath[0] ? fopen(outPath, "w") : stderr;
  size_t i;
  (void)id;
  (void)userdata;
  if (f == NULL) f = stderr;
  fprintf(f, "insns %" PRIu64 "\n", insns);
  if (f != stderr) fclose(f);
  if (profilePath[0] != 0 && (f = fopen(profilePath, "w")) != NULL) {
    for (i = 0; i < blockCount; ++i) {
      const Block* b = &chunks[i / kChunkBlocks][i % kChunkBlocks];
      if (b->runs != 0)
        fprintf(f, "%" PRIx64 " %" PRIu64 " %" PRIu64 "\n", b->vaddr, b->insns, b->runs);
    }
    fclose(f);
  }
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                           char** argv) {
  int i;
  (void)info;
  for (i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "out=", 4) == 0 && strlen(argv[i] + 4) < sizeof outPath) {
      strcpy(outPath, argv[i] + 4);
    } else if (strncmp(argv[i], "profile=", 8) == 0 && strlen(argv[i] + 8) < sizeof profilePath) {
      strcpy(profilePath, argv[i] + 8);
    } else {
      fprintf(stderr, "insn_count: unknown argument %s\n", argv[i]);
      return -1;
    }
  }
  qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslate);
  qemu_plugin_register_atexit_cb(id, OnExit, NULL);
  return 0;
}
