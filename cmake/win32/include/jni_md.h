// The machine-dependent JNI definitions for 32-bit Windows. The JDK installed on the build machine
// carries only its Linux ones, where JNICALL is empty: native methods compiled against those are
// cdecl, and a Windows JVM, which calls them as __stdcall, would leave the stack unbalanced after
// every call. The Windows build puts this folder ahead of the JDK's platform folder.
#ifndef USB3K_WIN32_JNI_MD_H
#define USB3K_WIN32_JNI_MD_H

#ifndef _WIN32
#error "this jni_md.h is for Windows builds only"
#endif

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

// The JVM's own sizes on Windows, where long stays 32 bits.
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif  // USB3K_WIN32_JNI_MD_H
