/* Looks its own resources up the way Windows programs do, after tolma embed
   rewrote its resource section: exit status 0 when each is found with its
   bytes, and the archive with the size given as the argument. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Check(const char* type, const char* name, WORD language, const char* want, DWORD want_size) {
    HRSRC found = FindResourceExA(NULL, type, name, language);
    if (found == NULL) {
        printf("not found: %p %p %04x\n", (const void*)type, (const void*)name, language);
        return 1;
    }
    const DWORD size = SizeofResource(NULL, found);
    const char* bytes = (const char*)LockResource(LoadResource(NULL, found));
    if (bytes == NULL || size != want_size || (want != NULL && memcmp(bytes, want, size) != 0)) {
        printf("wrong bytes: %p %p %04x (%lu)\n", (const void*)type, (const void*)name, language, (unsigned long)size);
        return 1;
    }
    return 0;
}

static int CheckText(const char* type, const char* name, WORD language, const char* want) {
    return Check(type, name, language, want, (DWORD)strlen(want));
}

int main(int argc, char** argv) {
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    int bad = 0;
    if (argc < 2) return 2;
    bad += CheckText(RT_RCDATA, "NAMED", 0, "named");
    bad += CheckText(RT_RCDATA, "named", 0, "named");
    bad += CheckText("DATA", "CUSTOM", 0, "a type of its own");
    bad += CheckText(RT_RCDATA, "TWO", english, "english");
    bad += CheckText(RT_RCDATA, "TWO", japanese, "japanese");
    bad += CheckText(RT_RCDATA, MAKEINTRESOURCEA(7), japanese, "seven");
    bad += CheckText(RT_RCDATA, "#7", japanese, "seven");
    bad += Check(RT_RCDATA, "IDR_ARCHIVE", 0, NULL, (DWORD)strtoul(argv[1], NULL, 10));
    return bad != 0 ? 1 : 0;
}
