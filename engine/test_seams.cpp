#include "engine/test_seams.h"

namespace ostrel {
namespace {

TestSeams g_testSeams;  // constant-initialised: the defaults hold before any code runs

}  // namespace

TestSeams &Seams() { return g_testSeams; }

void ResetTestSeams() { g_testSeams = TestSeams{}; }

}  // namespace ostrel
