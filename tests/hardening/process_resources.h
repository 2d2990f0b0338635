// What a process holds that a failed load must give back: open descriptors, mappings of a library, heap in use.
#pragma once

#include <cstddef>
#include <string>

namespace tav::test {

struct ProcessResources {
    std::size_t heapInUse;
    std::size_t openDescriptors;
    std::size_t libraryMappings;

    bool operator==(const ProcessResources& other) const
    {
        return heapInUse == other.heapInUse && openDescriptors == other.openDescriptors &&
               libraryMappings == other.libraryMappings;
    }
};

// Bytes of heap in use by the whole process.
std::size_t heapInUse();

// libraryFile names the driver library by file name; every mapping of a file of that name counts. The heap is read
// first, so that the reading of the other two, which allocates, does not show in it.
ProcessResources processResources(const std::string& libraryFile);

std::string describe(const ProcessResources& resources);

}  // namespace tav::test
