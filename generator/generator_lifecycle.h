// Generator start-up at open and release at close.
#pragma once

namespace ostrel {

void AwgStartUp();
void AwgRelease();

}  // namespace ostrel
