#include "engine/register_map.h"

#include <array>
#include <iterator>

namespace ostrel {
namespace {

constexpr int32_t N = kNoRegister;
constexpr int kRoles = static_cast<int>(Reg::Count);

using RoleRow = std::array<int32_t, kRoles>;

// One model's row with every role named: a row that misses a role does not compile, where a
// plain array would fill it with register 0 without a word.
template <typename... Index>
constexpr RoleRow Roles(Index... index) {
    static_assert(sizeof...(Index) == kRoles, "one register index per role of Reg");
    return RoleRow{static_cast<int32_t>(index)...};
}

// Rows: models 5..10. Columns: the roles of Reg in order.
constexpr RoleRow kRegisterTable[] = {
    // RecLen RecMem RecNum Clock  Trig   Input  Gain   Atten  Coupl  Term   Led    Counter Mask
    Roles(-1024, -1022, -1020, -1018, -1016, -1014, -1012, -1010, -1008, -1006, -1004, N, kAwgOutputMaskIndex),  // 5
    Roles(-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, -2020, N, kAwgOutputMaskIndex),          // 6
    Roles(-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, -2030, N, kAwgOutputMaskIndex),          // 7
    Roles(-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, N, N, kAwgOutputMaskIndex),              // 8
    Roles(-2048, -2046, -2044, -2042, -2040, N, -2036, N, -2034, -2032, -2012, -2020, kAwgOutputMaskIndex),      // 9
    Roles(-2048, -2046, -2044, -2042, -2040, -2038, -2036, -2030, -2034, -2032, -2020, N, kAwgOutputMaskIndex),  // 10
};
static_assert(std::size(kRegisterTable) == kModelCount, "one row per model 5..10");

// Two roles of one model on the same register would overwrite each other's settings.
constexpr bool RolesDistinctPerModel() {
    for (const RoleRow &row : kRegisterTable) {
        for (int a = 0; a < kRoles; ++a) {
            for (int b = a + 1; b < kRoles; ++b) {
                if (row[a] != N && row[a] == row[b]) return false;
            }
        }
    }
    return true;
}
static_assert(RolesDistinctPerModel(), "two roles of a model share a register");

}  // namespace

int32_t RegisterIndexOf(Reg role, int32_t modelType) {
    if (role == Reg::AwgOutputMask) return kAwgOutputMaskIndex;
    if (modelType < kFirstModel || modelType > kLastModel) return kNoRegister;
    const int column = static_cast<int>(role);
    if (column < 0 || column >= kRoles) return kNoRegister;
    return kRegisterTable[modelType - kFirstModel][column];
}

}  // namespace ostrel
