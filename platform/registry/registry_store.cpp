#include "platform/registry/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace bayercam {
namespace {

// Written next to the values file and renamed over it; the leading dot keeps it out of the
// key names.
constexpr char kNewValuesFileName[] = ".values.new";

// Another process holds the lock only for the length of one write; waiting far longer than
// that means it hangs, and the save fails instead of hanging with it.
constexpr auto kLockPatience = std::chrono::seconds(10);
constexpr auto kLockRetryInterval = std::chrono::milliseconds(2);

class FolderLock {
  public:
    explicit FolderLock(int folderFd) : folderFd_(folderFd) {}
    ~FolderLock() {
        if (held_) flock(folderFd_, LOCK_UN);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    NTSTATUS Acquire(int* error) {
        auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        while (flock(folderFd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            *error = errno;
            if (errno != EWOULDBLOCK) return StatusFromErrno(errno);
            if (std::chrono::steady_clock::now() >= deadline) return STATUS_SHARING_VIOLATION;
            std::this_thread::sleep_for(kLockRetryInterval);
        }
        held_ = true;
        return STATUS_SUCCESS;
    }

  private:
    int folderFd_;
    bool held_ = false;
};

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `text` as the new values file and renames it over the old one.
NTSTATUS ReplaceValuesFile(int folderFd, const std::string& text, int* failure) {
    int fd = openat(folderFd, kNewValuesFileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *failure = errno;
        return StatusFromErrno(errno);
    }
    // A file the user made private stays private.
    struct stat old;
    if (fstatat(folderFd, kValuesFileName, &old, 0) == 0 && S_ISREG(old.st_mode)) {
        fchmod(fd, old.st_mode & 07777);
    }
    bool written = WriteAll(fd, text) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && renameat(folderFd, kNewValuesFileName, folderFd, kValuesFileName) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlinkat(folderFd, kNewValuesFileName, 0);
        *failure = error == 0 ? EIO : error;
        return StatusFromErrno(*failure);
    }
    // The rename itself is durable only once the folder is synced.
    if (fsync(folderFd) == 0) return STATUS_SUCCESS;
    *failure = errno;
    return StatusFromErrno(errno);
}

}  // namespace

NTSTATUS StatusFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return STATUS_ACCESS_DENIED;
        case ENOENT:
            return STATUS_OBJECT_NAME_NOT_FOUND;
        case ENOMEM:
            return STATUS_INSUFFICIENT_RESOURCES;
        default:
            return STATUS_IO_DEVICE_ERROR;
    }
}

std::vector<RegistryValue> ReadValuesFile(int folderFd) {
    int fd = openat(folderFd, kValuesFileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text;
    struct stat info;
    bool readable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<uint64_t>(info.st_size) <= kMaxValuesFileBytes;
    if (readable) {
        // Read to the end rather than trust the size: a file replaced by hand may still grow.
        // The buffer starts at the size and grows to one byte past the limit at most; one of the
        // limit's size for every read cost more than the rest of a device start.
        text.resize(static_cast<size_t>(info.st_size) + 1);
        size_t done = 0;
        for (;;) {
            if (done == text.size()) {
                if (done > kMaxValuesFileBytes) break;
                text.resize(std::min(2 * done, kMaxValuesFileBytes + 1));
            }
            ssize_t n = read(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) readable = false;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        readable = readable && done <= kMaxValuesFileBytes;
        text.resize(done);
    }
    close(fd);
    return readable ? ParseRegistryValues(text) : std::vector<RegistryValue>{};
}

NTSTATUS UpdateValuesFile(int folderFd, const std::vector<RegistryValue>& changes,
                          std::vector<RegistryValue>* merged, int* error) {
    FolderLock lock(folderFd);
    NTSTATUS status = lock.Acquire(error);
    if (!NT_SUCCESS(status)) return status;
    std::vector<RegistryValue> values = ReadValuesFile(folderFd);
    for (const auto& change : changes) {
        if (RegistryValue* value = FindRegistryValue(values, change.name)) {
            value->type = change.type;
            value->data = change.data;
        } else {
            values.push_back(change);
        }
    }
    std::string text = FormatRegistryValues(values);
    if (text.size() > kMaxValuesFileBytes) {
        *error = EFBIG;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = ReplaceValuesFile(folderFd, text, error);
    if (NT_SUCCESS(status)) *merged = std::move(values);
    return status;
}

}  // namespace bayercam
