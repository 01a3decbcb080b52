// Placeholder until the offset table is built.
#include "calibration/offset_table.h"

namespace ostrel {

int32_t UpdateChannelOffset(int32_t) { return 0; }
void SelectCardDataFileName() {}
int32_t LoadCardData() { return 0; }
int32_t SaveCardData() { return 0; }
int32_t ApplyInitialInputs() { return 0; }

}  // namespace ostrel
