/* Machine-dependent JNI definitions for 64-bit Windows, as the JNI standard lays them out:
   jni.h includes this for the calling convention, the export markers and the three integer
   types whose width depends on the compiler. Ours, so the Windows build needs no Windows JDK. */
#ifndef VXO_JNI_MD_H
#define VXO_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* Ignored by the x64 compilers, which have one calling convention; kept for 32-bit builds. */
#define JNICALL __stdcall

/* long stays 32 bits on Windows (LLP64), so it is the JNI int there. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
