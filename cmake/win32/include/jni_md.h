// The machine-dependent JNI definitions for Windows, 32- and 64-bit. The JDK installed on the
// build machine carries only its Linux ones, where JNICALL is empty: native methods compiled
// against those are cdecl, and a 32-bit Windows JVM, which calls them as __stdcall, would leave
// the stack unbalanced after every call. (x64 has one calling convention, and the compiler takes
// __stdcall there as that one.) The Windows build puts this folder ahead of the JDK's platform
// folder.
#ifndef USB3K_WIN32_JNI_MD_H
#define USB3K_WIN32_JNI_MD_H

#ifndef _WIN32
#error "this jni_md.h is for Windows builds only"
#endif

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

// The JVM's own sizes on Windows, where long stays 32 bits on x64 too (LLP64).
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#ifdef __cplusplus
static_assert(sizeof(jint) == 4 && sizeof(jlong) == 8, "JNI's jint is 32 bits, jlong 64");
#endif

#endif  // USB3K_WIN32_JNI_MD_H
