#include <gtest/gtest.h>
// Filled in with the layer.
