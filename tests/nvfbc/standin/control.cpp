#include "control.h"

namespace tav::test::nvfbc {

std::ostream& operator<<(std::ostream& out, const Call& call)
{
    return out << call.entry << "(handle " << call.handle << ", version 0x" << std::hex << call.version << std::dec
               << ")";
}

void Standin::reset()
{
    Standin fresh;
    fresh.opens = opens;
    fresh.closes = closes;
    *this = std::move(fresh);
}

Standin& standin()
{
    // Never destroyed: the stand-in's unload at process exit still counts itself here.
    static Standin* const state = new Standin();
    return *state;
}

}  // namespace tav::test::nvfbc
