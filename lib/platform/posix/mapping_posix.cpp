// A mapping object keeps its own descriptor and the size taken when it was
// made, as a Win32 mapping of size 0 covers the file as it was then.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/mapping.h"

namespace plat {

struct FileMapping {
    int fd;
    size_t size;
};

FileMapping* CreateReadOnlyMapping(FileHandle file) {
    const int source = static_cast<int>(reinterpret_cast<intptr_t>(file));
    struct stat st;
    if (source < 0 || fstat(source, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return nullptr;
    if (static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) return nullptr;
    int fd = fcntl(source, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    auto* mapping = new (std::nothrow) FileMapping{fd, static_cast<size_t>(st.st_size)};
    if (mapping == nullptr) close(fd);
    return mapping;
}

const void* MapWholeView(FileMapping* mapping) {
    if (mapping == nullptr) return nullptr;
    void* view = mmap(nullptr, mapping->size, PROT_READ, MAP_SHARED, mapping->fd, 0);
    return view == MAP_FAILED ? nullptr : view;
}

void UnmapView(FileMapping* mapping, const void* view) {
    if (mapping != nullptr && view != nullptr) munmap(const_cast<void*>(view), mapping->size);
}

void CloseMapping(FileMapping* mapping) {
    if (mapping == nullptr) return;
    close(mapping->fd);
    delete mapping;
}

}  // namespace plat
