// Makes the files of a distribution disc for the repair tool: an archive of
// generated payload for every name of the tool's file table (mixing the four
// encodings; one file larger than the tool's transfer chunk, one empty), the
// log template setup.lst and the script spare data.dat, plus a reference copy
// of the payload to compare a repaired installation with.
//   make_disc OUT [--omit NAME] [--corrupt NAME]
// --omit leaves NAME out of the archive; --corrupt damages NAME's coded bytes
// after the archive is written, so that its checksum no longer matches.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "archive/tolma_archive.h"
#include "archive/tolma_entry.h"
#include "core/hvb.h"
#include "file/raw_file.h"
#include "file_table.h"
#include "platform/file.h"

namespace {

constexpr uint32_t kBigFileSize = 10240000 + 262144 + 7;

struct Rng {
    uint32_t state;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

uint32_t Hash(const char* text) {
    uint32_t h = 2166136261u;
    for (; *text != '\0'; ++text) h = (h ^ static_cast<unsigned char>(*text)) * 16777619u;
    return h | 1;
}

bool EndsWith(const char* text, const char* tail) {
    const size_t n = std::strlen(text), m = std::strlen(tail);
    return n >= m && std::strcmp(text + n - m, tail) == 0;
}

// The payload of one listed file, and the encoding it is stored with.
struct Payload {
    unsigned char* bytes = nullptr;
    uint32_t size = 0;
    uint32_t encoding = TOLMA_ENCODING_RAW;
    ~Payload() { hvbHeapFree(nullptr, bytes, 0); }
};

void MakePayload(const char* name, Payload* out) {
    Rng rng{Hash(name)};
    uint32_t size;
    if (std::strcmp(name, "CG\\cg_pack.dat") == 0) {
        size = kBigFileSize;
    } else if (std::strcmp(name, "config.dat") == 0) {
        size = 0;
    } else if (EndsWith(name, ".wav")) {
        size = 20000 + rng.Next() % 60000;
    } else if (EndsWith(name, ".exe") || EndsWith(name, ".dll")) {
        size = 40000 + rng.Next() % 40000;
    } else {
        size = 500 + rng.Next() % 6000;
    }
    out->size = size;
    out->bytes = static_cast<unsigned char*>(hvbHeapAllocate(nullptr, size + 1, 0));
    if (EndsWith(name, ".scn") || EndsWith(name, ".txt")) {
        // Script-like text: ASCII commands and Shift-JIS dialogue lines.
        static const char* const kLines[] = {"#scene ", "@bg ", "「おはよう」", "今日は晴れです。", "@se ", "\\n"};
        uint32_t at = 0;
        while (at < size) {
            const char* piece = kLines[rng.Next() % 6];
            for (const char* p = piece; *p != '\0' && at < size; ++p) out->bytes[at++] = static_cast<unsigned char>(*p);
            if (at < size) out->bytes[at++] = static_cast<unsigned char>('0' + rng.Next() % 10);
            if (at < size && rng.Next() % 3 == 0) out->bytes[at++] = '\n';
        }
        out->encoding = rng.Next() % 4 == 0 ? TOLMA_ENCODING_CRYPT : TOLMA_ENCODING_CODE;
    } else if (size == kBigFileSize) {
        // Long runs and noise: a large picture pack, stored raw.
        for (uint32_t i = 0; i < size; ++i) out->bytes[i] = static_cast<unsigned char>((i >> 9) ^ (rng.Next() % 4));
        out->encoding = TOLMA_ENCODING_RAW;
    } else {
        for (uint32_t i = 0; i < size; ++i) out->bytes[i] = static_cast<unsigned char>(rng.Next() >> 24);
        if (EndsWith(name, ".wav")) {
            out->encoding = rng.Next() % 2 == 0 ? TOLMA_ENCODING_RAW : TOLMA_ENCODING_BSHF_CRYPT;
        } else {
            out->encoding = TOLMA_ENCODING_CRYPT;
        }
    }
}

bool WriteWholeFile(const char* path, const void* bytes, uint32_t size) {
    ERawFile file;
    if (file.Open(path, modeCreate | modeWrite) != 0) return false;
    return file.Write(bytes, size) == size;
}

void Join(char* out, const char* a, const char* b) {
    std::snprintf(out, 512, "%s%c%s", a, plat::PathSeparator(), b);
}

// The listed name with the system's separator.
void NativeName(const char* name, char* out) {
    std::snprintf(out, 64, "%s", name);
    for (char* p = out; *p != '\0'; ++p) {
        if (*p == '\\') *p = plat::PathSeparator();
    }
}

}  // namespace

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_disc OUT [--omit NAME] [--corrupt NAME]\n");
        return 2;
    }
    const char* out = argv[1];
    const char* omit = "";
    const char* corrupt = "";
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--omit") == 0) omit = argv[i + 1];
        else if (std::strcmp(argv[i], "--corrupt") == 0) corrupt = argv[i + 1];
    }

    char path[512], payload_dir[512], sub[512], native[64];
    plat::CreateDirectoryPath(out);
    Join(payload_dir, out, "payload");
    plat::CreateDirectoryPath(payload_dir);
    for (const char* dir : {"CG", "WAV", "SCRIPT"}) {
        Join(sub, payload_dir, dir);
        plat::CreateDirectoryPath(sub);
    }

    // The directory tree of the archive: root files and three folders.
    TOLMAEntryList root, folders[3];
    static const char* const kFolders[] = {"CG", "WAV", "SCRIPT"};
    for (const char* folder : kFolders) root.AddEntry(folder, TOLMA_ATTRIBUTE_DIRECTORY, 0, nullptr);
    for (int i = 0; RepairFileTable[i][0] != '\0'; ++i) {
        const char* name = RepairFileTable[i];
        if (std::strcmp(name, omit) == 0) continue;
        Payload payload;
        MakePayload(name, &payload);
        const char* slash = std::strchr(name, '\\');
        if (slash == nullptr) {
            root.AddEntry(name, 0, payload.encoding, nullptr);
        } else {
            for (int f = 0; f < 3; ++f) {
                if (std::strncmp(name, kFolders[f], static_cast<size_t>(slash - name)) == 0 &&
                    kFolders[f][slash - name] == '\0') {
                    folders[f].AddEntry(slash + 1, 0, payload.encoding, nullptr);
                }
            }
        }
    }

    Join(path, out, "archive.tlm");
    ERawFile file;
    TOLMAArchive archive;
    if (file.Open(path, modeCreate | modeRead | modeWrite) != 0 || archive.Open(&file, &root) != 0) {
        std::fprintf(stderr, "make_disc: cannot create %s\n", path);
        return 1;
    }
    uint32_t corrupt_at = 0;
    auto store = [&](const char* listed, const char* entry_name) -> bool {
        Payload payload;
        MakePayload(listed, &payload);
        NativeName(listed, native);
        Join(sub, payload_dir, native);
        if (!WriteWholeFile(sub, payload.bytes, payload.size)) return false;
        if (std::strcmp(listed, omit) == 0) return true;
        if (archive.OpenEntry(entry_name, nullptr, 0) != 0) return false;
        const uint32_t start = file.GetPosition();
        for (uint32_t at = 0; at < payload.size;) {
            const uint32_t n = payload.size - at < 65536 ? payload.size - at : 65536;
            if (archive.Write(payload.bytes + at, n) != n) return false;
            at += n;
        }
        if (std::strcmp(listed, corrupt) == 0) corrupt_at = start + 16;
        return archive.CloseFile() == 0;
    };
    bool ok = true;
    for (int i = 0; ok && RepairFileTable[i][0] != '\0'; ++i) {
        if (std::strchr(RepairFileTable[i], '\\') == nullptr) ok = store(RepairFileTable[i], RepairFileTable[i]);
    }
    for (int f = 0; ok && f < 3; ++f) {
        ok = archive.DescendDirectory(kFolders[f], &folders[f]) == 0;
        const size_t prefix = std::strlen(kFolders[f]);
        for (int i = 0; ok && RepairFileTable[i][0] != '\0'; ++i) {
            const char* name = RepairFileTable[i];
            if (std::strncmp(name, kFolders[f], prefix) == 0 && name[prefix] == '\\') ok = store(name, name + prefix + 1);
        }
        ok = ok && archive.AscendDirectory() == 0;
    }
    ok = archive.Close() == 0 && ok;
    if (ok && corrupt_at != 0) {
        unsigned char byte = 0;
        ok = file.Seek(static_cast<int32_t>(corrupt_at), FromBegin) == corrupt_at && file.Read(&byte, 1) == 1;
        byte ^= 0x5A;
        ok = ok && file.Seek(static_cast<int32_t>(corrupt_at), FromBegin) == corrupt_at && file.Write(&byte, 1) == 1;
    }
    file.Close();
    if (!ok) {
        std::fprintf(stderr, "make_disc: writing the archive failed\n");
        return 1;
    }

    // The table's order, for checking which files a failed run restored.
    {
        uint32_t count = 0;
        while (RepairFileTable[count][0] != '\0') ++count;
        const uint32_t capacity = count * kFileTableSlotSize + 1;
        auto* listing = static_cast<char*>(hvbHeapAllocate(nullptr, capacity, 0));
        uint32_t used = 0;
        for (uint32_t i = 0; i < count; ++i) {
            used += static_cast<uint32_t>(std::snprintf(listing + used, capacity - used, "%s\n", RepairFileTable[i]));
        }
        Join(path, out, "table.txt");
        ok = WriteWholeFile(path, listing, used);
        hvbHeapFree(nullptr, listing, 0);
        if (!ok) return 1;
    }

    // The log template: "@INSTDIR" in several places, CR LF line ends, an
    // empty line, and a last line without a line feed, which is dropped.
    static const char kTemplate[] =
        "[Setup]\r\n"
        "Dir=@INSTDIR\r\n"
        "Program=@INSTDIR\\pro.exe\r\n"
        "\r\n"
        "Both=@INSTDIR;@INSTDIR\\SCRIPT\r\n"
        "Partial=@INSTDI\r\n"
        "[End]\r\n"
        "unterminated @INSTDIR";
    // One line longer than the tool's 1024-byte line buffer goes before the
    // last line.
    char template_text[2048];
    const char* last = std::strstr(kTemplate, "[End]");
    uint32_t used = static_cast<uint32_t>(last - kTemplate);
    std::memcpy(template_text, kTemplate, used);
    used += static_cast<uint32_t>(std::snprintf(template_text + used, sizeof template_text - used, "Long="));
    for (int i = 0; i < 1100; ++i) template_text[used++] = 'L';
    used += static_cast<uint32_t>(std::snprintf(template_text + used, sizeof template_text - used, "@INSTDIR\r\n%s", last));
    Join(path, out, "setup.lst");
    ok = WriteWholeFile(path, template_text, used);
    static const char kScript[] = "#scene 1_5_22\n@bg restored\n「修復されました」\n";
    Join(path, out, "data.dat");
    ok = ok && WriteWholeFile(path, kScript, sizeof kScript - 1);
    if (!ok) {
        std::fprintf(stderr, "make_disc: writing the disc files failed\n");
        return 1;
    }
    std::printf("make_disc: %s\n", out);
    return 0;
}
