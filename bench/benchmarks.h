// The benchmark families, registered in the order they must run: the missing driver first, while no binding has
// loaded its library yet.
#pragma once

namespace tav::bench {

void registerMissingDriver();
void registerErrors();
void registerCalls();

}  // namespace tav::bench
