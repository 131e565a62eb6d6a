/* Loads resources of a program file the way the launcher and the system do, and prints what it
 * finds, one line per query:
 *   res_probe PROGRAM icon:ID bitmap:ID rcdata:ID string:ID version manifest
 * A resource that cannot be loaded prints "<query> missing"; the exit code is the number of
 * missing resources. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static int Icon(HMODULE module, int id) {
    ICONINFO info;
    BITMAP bm;
    HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    if (!icon) return 0;
    if (!GetIconInfo(icon, &info) || !GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm)) {
        DestroyIcon(icon);
        return 0;
    }
    printf("icon:%d %ldx%ld\n", id, bm.bmWidth, bm.bmHeight);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    return 1;
}

static int Bitmap(HMODULE module, int id) {
    BITMAP bm;
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
    if (!bitmap) return 0;
    GetObjectA(bitmap, sizeof bm, &bm);
    printf("bitmap:%d %ldx%ld\n", id, bm.bmWidth, bm.bmHeight);
    DeleteObject(bitmap);
    return 1;
}

static int Raw(HMODULE module, int id, LPCSTR type, const char* label) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    const unsigned char* data = loaded ? (const unsigned char*)LockResource(loaded) : NULL;
    DWORD size = found ? SizeofResource(module, found) : 0;
    if (!data || size == 0) return 0;
    /* The first bytes identify the content without printing all of it. */
    printf("%s:%d %lu", label, id, (unsigned long)size);
    for (DWORD i = 0; i < size && i < 4; ++i) printf(" %02x", data[i]);
    printf("\n");
    return 1;
}

static int String(HMODULE module, int id) {
    char text[512];
    int n = LoadStringA(module, (UINT)id, text, (int)sizeof text);
    if (n <= 0) return 0;
    printf("string:%d %s\n", id, text);
    return 1;
}

static int Version(const char* path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    char* block;
    VS_FIXEDFILEINFO* fixed = NULL;
    char* name = NULL;
    UINT length = 0;
    if (size == 0 || (block = (char*)malloc(size)) == NULL) return 0;
    if (!GetFileVersionInfoA(path, 0, size, block) || !VerQueryValueA(block, "\\", (void**)&fixed, &length) ||
        length < sizeof *fixed) {
        free(block);
        return 0;
    }
    printf("version %lu.%lu.%lu.%lu", (unsigned long)HIWORD(fixed->dwFileVersionMS),
           (unsigned long)LOWORD(fixed->dwFileVersionMS), (unsigned long)HIWORD(fixed->dwFileVersionLS),
           (unsigned long)LOWORD(fixed->dwFileVersionLS));
    if (VerQueryValueA(block, "\\StringFileInfo\\040904B0\\ProductName", (void**)&name, &length) && length > 0)
        printf(" %s", name);
    printf("\n");
    free(block);
    return 1;
}

int main(int argc, char** argv) {
    int missing = 0;
    HMODULE module;
    if (argc < 3) {
        fprintf(stderr, "usage: res_probe PROGRAM QUERY...\n");
        return 100;
    }
    module = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        fprintf(stderr, "res_probe: cannot load %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 101;
    }
    for (int i = 2; i < argc; ++i) {
        const char* colon = strchr(argv[i], ':');
        int id = colon ? atoi(colon + 1) : 1;
        int ok = 0;
        if (strncmp(argv[i], "icon:", 5) == 0) ok = Icon(module, id);
        else if (strncmp(argv[i], "bitmap:", 7) == 0) ok = Bitmap(module, id);
        else if (strncmp(argv[i], "rcdata:", 7) == 0) ok = Raw(module, id, RT_RCDATA, "rcdata");
        else if (strncmp(argv[i], "string:", 7) == 0) ok = String(module, id);
        else if (strcmp(argv[i], "manifest") == 0) ok = Raw(module, 1, RT_MANIFEST, "manifest");
        else if (strcmp(argv[i], "version") == 0) ok = Version(argv[1]);
        if (!ok) {
            printf("%s missing\n", argv[i]);
            ++missing;
        }
    }
    FreeLibrary(module);
    return missing;
}
