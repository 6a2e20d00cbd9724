// The scanning kernels held to their scalar twins, shared by the unit tests and the fuzz targets.
#pragma once

#include <string_view>

// Walks text the way the scanners do, from each find to the next, with every kernel and its
// scalar twin. Returns the name of the first kernel that disagrees with its twin, or nullptr.
const char *kernel_disagreement(std::string_view text);
