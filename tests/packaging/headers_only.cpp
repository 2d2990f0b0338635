// A program that includes every public header and uses nothing of the library: it links without libTAVNvidia.
#include <tav/nvidia/cuda>
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvencerrordomain>
#include <tav/nvidia/nvfbc>
#include <tav/nvidia/nvfbcerrordomain>

int main() { return 0; }
