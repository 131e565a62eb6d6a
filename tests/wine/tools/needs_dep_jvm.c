/* A jvm.dll that imports vxodep.dll and hands creation to the fake runtime named by the
   environment variable VXO_FORWARD_JVM. It tests where the launcher lets the loader look for a
   runtime's dependencies; the JNI work itself is the fake's. */
#include <windows.h>

__declspec(dllimport) int vxodep_present(void);

typedef long (*CreateFn)(void**, void**, void*);

__declspec(dllexport) long JNI_CreateJavaVM(void** vm, void** env, void* args) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("VXO_FORWARD_JVM", path, sizeof path);
    if (!vxodep_present() || length == 0 || length >= sizeof path) return -1;
    HMODULE real = LoadLibraryA(path);
    CreateFn create = real ? (CreateFn)(void*)GetProcAddress(real, "JNI_CreateJavaVM") : NULL;
    return create ? create(vm, env, args) : -1;
}
