// Counts every load and unload of the stand-in, so that tests see whether the binding opened and closed it.
#include "control.h"

namespace {

__attribute__((constructor)) void opened() { ++tav::test::nvfbc::standin().opens; }

__attribute__((destructor)) void closed() { ++tav::test::nvfbc::standin().closes; }

}  // namespace
