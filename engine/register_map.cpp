#include "engine/register_map.h"

namespace ostrel {
namespace {

constexpr int32_t N = kNoRegister;
constexpr int kRoles = static_cast<int>(Reg::Count);

// Rows: models 5..10. Columns: the roles of Reg in order.
constexpr int32_t kRegisterTable[kLastModel - kFirstModel + 1][kRoles] = {
    // RecLen RecMem RecNum Clock  Trig   Input  Gain   Atten  Coupl  Term   Led    Counter Mask
    {-1024, -1022, -1020, -1018, -1016, -1014, -1012, -1010, -1008, -1006, -1004, N, kAwgOutputMaskIndex},  // 5
    {-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, -2020, N, kAwgOutputMaskIndex},          // 6
    {-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, -2030, N, kAwgOutputMaskIndex},          // 7
    {-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, N, N, kAwgOutputMaskIndex},              // 8
    {-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, -2012, -2020, kAwgOutputMaskIndex},      // 9
    {-2048, -2046, -2044, -2042, -2040, -2038, -2036, -2030, -2034, -2032, -2020, N, kAwgOutputMaskIndex},  // 10
};

}  // namespace

int32_t RegisterIndexOf(Reg role, int32_t modelType) {
    if (role == Reg::AwgOutputMask) return kAwgOutputMaskIndex;
    if (modelType < kFirstModel || modelType > kLastModel) return kNoRegister;
    const int column = static_cast<int>(role);
    if (column < 0 || column >= kRoles) return kNoRegister;
    return kRegisterTable[modelType - kFirstModel][column];
}

}  // namespace ostrel
