// The program's own dlclose, which the library's calls reach first: once armed, every dlclose still closes the
// library but reports failure, with a loader error text to go with it.
#pragma once

namespace tav::test::exit {

void failEveryDlclose();

}  // namespace tav::test::exit
