// What the exit programs do before they leave: create errors of every domain, keep one of them in a static that
// outlives main, and load every binding, so that each singleton has something to tear down at exit.
#pragma once

namespace tav::test::exit {

// Returns whether every binding loaded; the errors are created either way.
bool useEveryBinding();

}  // namespace tav::test::exit
