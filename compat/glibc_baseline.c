// What the Linux libraries the jars carry take from glibc, bound to versions that glibc 2.17 and
// every later one offer. cmake/glibc-baseline.cmake links each such library with
// -Wl,--wrap=NAME for every function below, so that a call to NAME, from our code or from the
// libstdc++ and libgcc linked into the library, reaches __wrap_NAME here instead of the version
// the build machine's glibc would bind it to. Nothing here is exported: the libraries' version
// scripts keep their exports to their own interface.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

// The version of glibc's symbols each function is bound to, set by cmake/glibc-baseline.cmake
// for the target's architecture.
#if !defined(USB3K_GLIBC_FIRST) || !defined(USB3K_GLIBC_DLOPEN)
#error "built only through cmake/glibc-baseline.cmake"
#endif

#define USB3K_HIDDEN __attribute__((visibility("hidden")))
// usb3k_old_NAME calls NAME at that version.
#define USB3K_BIND(name, version) __asm__(".symver usb3k_old_" #name "," #name "@" version)

// glibc 2.34 moved these from libdl and libpthread into libc under new versions; the old ones
// still resolve, in libdl.so.2 and libpthread.so.0 on an older glibc and in libc on a newer.
void* usb3k_old_dlopen(const char* file, int mode);
void* usb3k_old_dlsym(void* library, const char* name);
char* usb3k_old_dlerror(void);
int usb3k_old_dlclose(void* library);
int usb3k_old_dladdr(const void* address, Dl_info* info);
int usb3k_old_pthread_once(pthread_once_t* once, void (*run)(void));
int usb3k_old_pthread_key_create(pthread_key_t* key, void (*destroy)(void*));
int usb3k_old___pthread_key_create(pthread_key_t* key, void (*destroy)(void*));
int usb3k_old_pthread_key_delete(pthread_key_t key);
void* usb3k_old_pthread_getspecific(pthread_key_t key);
int usb3k_old_pthread_setspecific(pthread_key_t key, const void* value);
USB3K_BIND(dlopen, USB3K_GLIBC_DLOPEN);
USB3K_BIND(dlsym, USB3K_GLIBC_FIRST);
USB3K_BIND(dlerror, USB3K_GLIBC_FIRST);
USB3K_BIND(dlclose, USB3K_GLIBC_FIRST);
USB3K_BIND(dladdr, USB3K_GLIBC_FIRST);
USB3K_BIND(pthread_once, USB3K_GLIBC_FIRST);
USB3K_BIND(pthread_key_create, USB3K_GLIBC_FIRST);
USB3K_BIND(__pthread_key_create, USB3K_GLIBC_FIRST);
USB3K_BIND(pthread_key_delete, USB3K_GLIBC_FIRST);
USB3K_BIND(pthread_getspecific, USB3K_GLIBC_FIRST);
USB3K_BIND(pthread_setspecific, USB3K_GLIBC_FIRST);

USB3K_HIDDEN void* __wrap_dlopen(const char* file, int mode) {
    return usb3k_old_dlopen(file, mode);
}
USB3K_HIDDEN void* __wrap_dlsym(void* library, const char* name) {
    return usb3k_old_dlsym(library, name);
}
USB3K_HIDDEN char* __wrap_dlerror(void) {
    return usb3k_old_dlerror();
}
USB3K_HIDDEN int __wrap_dlclose(void* library) {
    return usb3k_old_dlclose(library);
}
USB3K_HIDDEN int __wrap_dladdr(const void* address, Dl_info* info) {
    return usb3k_old_dladdr(address, info);
}
USB3K_HIDDEN int __wrap_pthread_once(pthread_once_t* once, void (*run)(void)) {
    return usb3k_old_pthread_once(once, run);
}
USB3K_HIDDEN int __wrap_pthread_key_create(pthread_key_t* key, void (*destroy)(void*)) {
    return usb3k_old_pthread_key_create(key, destroy);
}
USB3K_HIDDEN int __wrap___pthread_key_create(pthread_key_t* key, void (*destroy)(void*)) {
    return usb3k_old___pthread_key_create(key, destroy);
}
USB3K_HIDDEN int __wrap_pthread_key_delete(pthread_key_t key) {
    return usb3k_old_pthread_key_delete(key);
}
USB3K_HIDDEN void* __wrap_pthread_getspecific(pthread_key_t key) {
    return usb3k_old_pthread_getspecific(key);
}
USB3K_HIDDEN int __wrap_pthread_setspecific(pthread_key_t key, const void* value) {
    return usb3k_old_pthread_setspecific(key, value);
}

// std::condition_variable waits against the steady clock with pthread_cond_clockwait, which glibc
// brought in with 2.30. Before it, a condition variable waits against CLOCK_REALTIME only: the
// deadline on the caller's clock becomes the same time left on that one.
USB3K_HIDDEN int __wrap_pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                                               clockid_t clock, const struct timespec* deadline) {
    struct timespec now;
    struct timespec realNow;
    if (clock_gettime(clock, &now) != 0 || clock_gettime(CLOCK_REALTIME, &realNow) != 0) {
        return EINVAL;
    }
    const long long nanosPerSecond = 1000000000LL;
    long long left = (long long)(deadline->tv_sec - now.tv_sec) * nanosPerSecond +
                     (deadline->tv_nsec - now.tv_nsec);
    if (left < 0) {
        left = 0;
    }
    const long long until = (long long)realNow.tv_sec * nanosPerSecond + realNow.tv_nsec + left;
    const struct timespec realDeadline = {(time_t)(until / nanosPerSecond),
                                          (long)(until % nanosPerSecond)};
    return pthread_cond_timedwait(condition, mutex, &realDeadline);
}

// libstdc++'s shared-pointer and locale code asks this whether the process has only one thread,
// to skip atomic operations. glibc has answered since 2.32; ours says "not known", which always
// takes the thread-safe path.
USB3K_HIDDEN char __libc_single_threaded = 0;

// The destructor of a thread_local object, run when its thread ends: glibc's own registration
// (glibc 2.18 and later), which also keeps the library loaded while a thread still holds one;
// on glibc 2.17, a list per thread behind a pthread key, with the library made permanent, since
// its code must still be there when the thread ends.
typedef int (*ThreadAtExit)(void (*)(void*), void*, void*);
struct ThreadDestructor {
    void (*destroy)(void*);
    void* object;
    struct ThreadDestructor* next;
};
static ThreadAtExit glibcThreadAtExit;
static pthread_key_t threadDestructors;
static int threadDestructorsReady;
static pthread_once_t threadAtExitOnce = PTHREAD_ONCE_INIT;

static void runThreadDestructors(void* list) {
    // Newest first, as objects are destroyed in the reverse order of their construction.
    for (struct ThreadDestructor* entry = list; entry != NULL;) {
        struct ThreadDestructor* next = entry->next;
        entry->destroy(entry->object);
        free(entry);
        entry = next;
    }
}

static void findThreadAtExit(void) {
    glibcThreadAtExit = (ThreadAtExit)usb3k_old_dlsym(RTLD_DEFAULT, "__cxa_thread_atexit_impl");
    if (glibcThreadAtExit == NULL) {
        threadDestructorsReady =
            usb3k_old_pthread_key_create(&threadDestructors, runThreadDestructors) == 0;
    }
}

static void keepLibraryLoaded(void* dsoSymbol) {
    Dl_info info;
    if (usb3k_old_dladdr(dsoSymbol, &info) != 0 && info.dli_fname != NULL) {
        // Never closed: RTLD_NODELETE keeps the library mapped for the process's life.
        (void)usb3k_old_dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

USB3K_HIDDEN int __wrap___cxa_thread_atexit_impl(void (*destroy)(void*), void* object,
                                                 void* dsoSymbol) {
    usb3k_old_pthread_once(&threadAtExitOnce, findThreadAtExit);
    if (glibcThreadAtExit != NULL) {
        return glibcThreadAtExit(destroy, object, dsoSymbol);
    }
    struct ThreadDestructor* entry = malloc(sizeof *entry);
    if (!threadDestructorsReady || entry == NULL) {
        free(entry);
        return -1;
    }
    entry->destroy = destroy;
    entry->object = object;
    entry->next = usb3k_old_pthread_getspecific(threadDestructors);
    if (usb3k_old_pthread_setspecific(threadDestructors, entry) != 0) {
        free(entry);
        return -1;
    }
    keepLibraryLoaded(dsoSymbol);
    return 0;
}

// The unwinder's question "which loaded object holds this code address, and where are its
// unwind tables": glibc 2.35's _dl_find_object answers it without a lock; before it, libgcc
// walked the loaded objects with dl_iterate_phdr, which every glibc has and which this does too.
// Only the fields the unwinder reads are filled in.
struct ObjectSearch {
    uintptr_t address;
    struct dl_find_object* result;
};

static int examineObject(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size;
    struct ObjectSearch* search = data;
    const ElfW(Phdr)* unwindTables = NULL;
    const ElfW(Phdr)* dynamic = NULL;
    uintptr_t start = UINTPTR_MAX;
    uintptr_t end = 0;
    int holds = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)* header = &info->dlpi_phdr[i];
        const uintptr_t from = info->dlpi_addr + header->p_vaddr;
        if (header->p_type == PT_LOAD) {
            holds |= search->address >= from && search->address < from + header->p_memsz;
            start = from < start ? from : start;
            end = from + header->p_memsz > end ? from + header->p_memsz : end;
        } else if (header->p_type == PT_DYNAMIC) {
            dynamic = header;
        }
#if DLFO_STRUCT_HAS_EH_COUNT
        else if (header->p_type == PT_ARM_EXIDX) {
            unwindTables = header;
        }
#else
        else if (header->p_type == PT_GNU_EH_FRAME) {
            unwindTables = header;
        }
#endif
    }
    if (!holds) {
        return 0;
    }
    struct dl_find_object* result = search->result;
    result->dlfo_flags = 0;
    result->dlfo_map_start = (void*)start;
    result->dlfo_map_end = (void*)end;
    result->dlfo_link_map = NULL;
    result->dlfo_eh_frame =
        unwindTables == NULL ? NULL : (void*)(info->dlpi_addr + unwindTables->p_vaddr);
#if DLFO_STRUCT_HAS_EH_COUNT
    result->dlfo_eh_count = unwindTables == NULL ? 0 : (int)(unwindTables->p_memsz / 8);
#endif
#if DLFO_STRUCT_HAS_EH_DBASE
    // The object's global offset table, which its unwind tables' data-relative entries are
    // relative to; glibc has relocated _DYNAMIC, so the entry holds its run-time address.
    result->dlfo_eh_dbase = NULL;
    if (dynamic != NULL) {
        for (const ElfW(Dyn)* entry = (const ElfW(Dyn)*)(info->dlpi_addr + dynamic->p_vaddr);
             entry->d_tag != DT_NULL; ++entry) {
            if (entry->d_tag == DT_PLTGOT) {
                result->dlfo_eh_dbase = (void*)entry->d_un.d_ptr;
                break;
            }
        }
    }
#else
    (void)dynamic;
#endif
    return 1;
}

USB3K_HIDDEN int __wrap__dl_find_object(void* address, struct dl_find_object* result) {
    struct ObjectSearch search = {(uintptr_t)address, result};
    return dl_iterate_phdr(examineObject, &search) == 1 ? 0 : -1;
}

// Called only by std::random_device, which libstdc++'s random-number code brings along and which
// nothing here uses: the kernel's getrandom where there is one (Linux 3.17), else ENOSYS.
USB3K_HIDDEN int __wrap_getentropy(void* buffer, size_t length) {
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    unsigned char* next = buffer;
    while (length > 0) {
        const long count = syscall(SYS_getrandom, next, length, 0);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        next += count;
        length -= (size_t)count;
    }
    return 0;
}

USB3K_HIDDEN uint32_t __wrap_arc4random(void) {
    uint32_t value;
    if (__wrap_getentropy(&value, sizeof value) != 0) {
        abort();  // as glibc's own arc4random does when the system has no randomness to give
    }
    return value;
}
