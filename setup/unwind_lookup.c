/* The lookup the statically linked C++ unwinder makes for each frame, done
   with dl_iterate_phdr so that the stubs run on glibc 2.34 as well. */

/* GCC 12's libgcc_eh finds a frame's unwind table with _dl_find_object,
   which glibc has only from 2.35 on, and falls back to nothing. The stubs are
   linked with --wrap=_dl_find_object, so its calls land here instead. The
   answer is the same as glibc's for what the unwinder reads: the loaded
   object that holds pc, and the address of its PT_GNU_EH_FRAME segment (on
   x86-64 the unwinder reads no data base and no link map). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdint.h>
#include <string.h>

struct FrameSearch {
    uintptr_t pc;
    struct dl_find_object* found;
};

static int findObjectOf(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size;
    struct FrameSearch* search = data;
    uintptr_t start = UINTPTR_MAX;
    uintptr_t end = 0;
    int holdsPc = 0;
    void* ehFrame = NULL;
    for (ElfW(Half) k = 0; k < info->dlpi_phnum; ++k) {
        const ElfW(Phdr)* segment = &info->dlpi_phdr[k];
        const uintptr_t from = info->dlpi_addr + segment->p_vaddr;
        if (segment->p_type == PT_GNU_EH_FRAME) {
            ehFrame = (void*)from;
        }
        if (segment->p_type != PT_LOAD) {
            continue;
        }
        const uintptr_t to = from + segment->p_memsz;
        start = from < start ? from : start;
        end = to > end ? to : end;
        holdsPc |= search->pc >= from && search->pc < to;
    }
    if (!holdsPc) {
        return 0;
    }
    memset(search->found, 0, sizeof *search->found);
    search->found->dlfo_map_start = (void*)start;
    search->found->dlfo_map_end = (void*)end;
    search->found->dlfo_eh_frame = ehFrame;
    return 1;
}

int __wrap__dl_find_object(void* pc, struct dl_find_object* result) {
    struct FrameSearch search = {(uintptr_t)pc, result};
    return dl_iterate_phdr(findObjectOf, &search) != 0 ? 0 : -1;
}
