#include "control.h"

namespace tav::test::nvenc {

StandInState& standIn()
{
    static StandInState state;
    return state;
}

}  // namespace tav::test::nvenc
