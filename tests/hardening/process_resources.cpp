#include "process_resources.h"

#include <dirent.h>
#include <malloc.h>

#include <fstream>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count; GCC installs no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tav::test {

std::size_t heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator serves every allocation; glibc's arena then stays untouched.
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

namespace {

std::size_t openDescriptors()
{
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return 0;
    }
    std::size_t count = 0;
    while (const dirent* entry = readdir(directory)) {
        count += entry->d_name[0] != '.';
    }
    closedir(directory);
    // The directory's own descriptor was listed too.
    return count - 1;
}

std::size_t libraryMappings(const std::string& libraryFile)
{
    std::ifstream maps("/proc/self/maps");
    const std::string suffix = "/" + libraryFile;
    std::size_t count = 0;
    for (std::string line; std::getline(maps, line);) {
        count += line.size() >= suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    return count;
}

}  // namespace

ProcessResources processResources(const std::string& libraryFile)
{
    const std::size_t heap = heapInUse();
    return {heap, openDescriptors(), libraryMappings(libraryFile)};
}

std::string describe(const ProcessResources& resources)
{
    return "heap " + std::to_string(resources.heapInUse) + " bytes, " + std::to_string(resources.openDescriptors) +
           " descriptors, " + std::to_string(resources.libraryMappings) + " mappings";
}

}  // namespace tav::test
