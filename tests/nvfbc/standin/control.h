// What the stand-in capture library answers and what it saw. It lives in a library of its own, shared by the tests
// and the stand-in, so that it outlasts every dlclose of the stand-in.
#pragma once

#include <tav/nvidia/nvfbcapi>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <ostream>
#include <string>
#include <vector>

namespace tav::test::nvfbc {

// One call into the stand-in.
struct Call {
    // "NvFBCCreateInstance" or the name of the function-list entry.
    std::string entry;
    // The session handle passed; for nvFBCCreateHandle the value found behind its pointer; 0 for NvFBCCreateInstance.
    unsigned long handle = 0;
    // The dwVersion found in the structure passed (the function list's for NvFBCCreateInstance); 0 for
    // nvFBCGetLastErrorStr, which takes none.
    std::uint32_t version = 0;

    bool operator==(const Call& other) const
    {
        return entry == other.entry && handle == other.handle && version == other.version;
    }
};

std::ostream& operator<<(std::ostream& out, const Call& call);

struct Standin {
    // Chosen by the tests.

    // What NvFBCCreateInstance returns once it has filled the list.
    NVFBCSTATUS instanceStatus = NVFBC_SUCCESS;
    // What each entry returns, by name; success for an entry not named.
    std::map<std::string, NVFBCSTATUS> statuses;
    // The handle nvFBCCreateHandle stores whatever its status; when unset, a new one on success and none on failure.
    std::optional<unsigned long> createdHandle;
    // nvFBCGetLastErrorStr's text per handle; null for a handle not named.
    std::map<unsigned long, std::string> lastErrors;
    // Entries, by name, that NvFBCCreateInstance leaves empty while it reports success.
    std::set<std::string> entriesLeftEmpty;

    // Observed.

    std::vector<Call> calls;
    unsigned long handlesCreated = 0;
    // How often the stand-in was loaded into and unloaded from the process.
    int opens = 0;
    int closes = 0;

    // Forgets the choices and the calls; the load counts stay.
    void reset();
};

Standin& standin();

}  // namespace tav::test::nvfbc
