/* A stand-in for the runtime's splashscreen.dll: its three entry points append what they are
   given to the file named by VXO_FAKESPLASH_LOG ("init", "file <path>", "memory <size> <first
   four bytes in hex>"). */
#include <stdio.h>
#include <stdlib.h>

static void Note(const char* format, const char* text, int size, const unsigned char* bytes) {
    const char* path = getenv("VXO_FAKESPLASH_LOG");
    FILE* log = path != NULL && path[0] != '\0' ? fopen(path, "a") : NULL;
    if (log == NULL) return;
    if (bytes != NULL) {
        fprintf(log, format, size, size >= 4 ? bytes[0] : 0, size >= 4 ? bytes[1] : 0, size >= 4 ? bytes[2] : 0,
                size >= 4 ? bytes[3] : 0);
    } else {
        fprintf(log, format, text);
    }
    fclose(log);
}

__declspec(dllexport) void SplashInit(void) { Note("init\n", "", 0, NULL); }

__declspec(dllexport) int SplashLoadFile(const char* path) {
    Note("file %s\n", path != NULL ? path : "(null)", 0, NULL);
    return 1;
}

__declspec(dllexport) int SplashLoadMemory(void* data, int size) {
    Note("memory %d %02x%02x%02x%02x\n", NULL, size, (const unsigned char*)data);
    return 1;
}
