// The values file of one key folder: how it is read, and how it is replaced without ever being
// seen half written.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/kernel/ntstatus.h"
#include "platform/registry/registry_text.h"

namespace bayercam {

// The values file inside every key folder; no key may take this name.
constexpr char kValuesFileName[] = "values";
// Largest values file the store reads or writes; a larger one is not ours and reads as empty.
constexpr size_t kMaxValuesFileBytes = 1 << 20;

NTSTATUS StatusFromErrno(int error);

// The values of the key folder open as `folderFd`. A missing, unreadable, oversized or
// non-regular file has no values.
std::vector<RegistryValue> ReadValuesFile(int folderFd);

// With the folder locked against other writers: reads the file, replaces or adds `changes`, and
// writes the result to a new file that is synced and renamed over the old one. `merged`
// receives the values now in the file. On failure the old file stays as it was and `*error`
// holds the errno of the step that failed.
NTSTATUS UpdateValuesFile(int folderFd, const std::vector<RegistryValue>& changes,
                          std::vector<RegistryValue>* merged, int* error);

}  // namespace bayercam
