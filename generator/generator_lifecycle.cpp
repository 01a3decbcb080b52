// Placeholder until the generator is built.
#include "generator/generator_lifecycle.h"

namespace ostrel {

void AwgStartUp() {}
void AwgRelease() {}

}  // namespace ostrel
