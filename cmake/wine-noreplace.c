/*
 * Preloaded into 32-bit Wine processes that run under qemu's user-mode emulation (on a kernel
 * that cannot run 32-bit code itself). Wine reserves its address space with mmap and
 * MAP_FIXED_NOREPLACE; qemu 7 takes that flag for a mere hint and maps elsewhere, and Wine
 * then keeps the stray mapping and splits its request down to 64 KiB pieces, which costs about
 * a minute of emulated work at every process start. Here the flag means what the kernel means
 * by it: exactly the address asked for, or EEXIST. Where the kernel already does that, this
 * changes nothing.
 *
 * Built without any header (the 32-bit C library headers need not be installed):
 *   cc -m32 -O2 -fPIC -fno-stack-protector -c wine-noreplace.c && ld -m elf_i386 -shared ...
 */

#define MAP_FIXED_NOREPLACE 0x100000
#define RTLD_NEXT ((void*)-1l)
#define MAP_FAILED ((void*)-1)
#define EEXIST 17

extern void* dlsym(void* handle, const char* name);
extern int munmap(void* addr, unsigned long length);
extern int* __errno_location(void);

typedef void* (*mmap64_fn)(void*, unsigned long, int, int, int, long long);
typedef void* (*mmap_fn)(void*, unsigned long, int, int, int, long);

static void* exactly(void* wanted, void* got, unsigned long length) {
    if (got == MAP_FAILED || got == wanted) {
        return got;
    }
    munmap(got, length);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
}

void* mmap64(void* addr, unsigned long length, int prot, int flags, int fd, long long offset) {
    static mmap64_fn next;
    if (!next) {
        next = (mmap64_fn)dlsym(RTLD_NEXT, "mmap64");
    }
    if (!(flags & MAP_FIXED_NOREPLACE)) {
        return next(addr, length, prot, flags, fd, offset);
    }
    return exactly(addr, next(addr, length, prot, flags & ~MAP_FIXED_NOREPLACE, fd, offset),
                   length);
}

void* mmap(void* addr, unsigned long length, int prot, int flags, int fd, long offset) {
    static mmap_fn next;
    if (!next) {
        next = (mmap_fn)dlsym(RTLD_NEXT, "mmap");
    }
    if (!(flags & MAP_FIXED_NOREPLACE)) {
        return next(addr, length, prot, flags, fd, offset);
    }
    return exactly(addr, next(addr, length, prot, flags & ~MAP_FIXED_NOREPLACE, fd, offset),
                   length);
}
