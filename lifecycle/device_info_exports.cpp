// What the last bus scan found and what the opened board is. Indices are checked against the
// boards the scan recorded; a refusal writes nothing.
#include "OstrelDAQEngine.h"
#include "engine/board_model_table.h"
#include "engine/engine_state.h"

using ostrel::g_engine;

namespace {

bool IsRecordedBoard(int32_t boardIndex) {
    return boardIndex >= 0 && boardIndex < g_engine.discovery.DeviceCount;
}

}  // namespace

extern "C" {

OSTREL_API int32_t DAQ_GetDeviceNum(int32_t *count) noexcept {
    if (count == nullptr) return DAQ_ERROR;
    *count = g_engine.discovery.DeviceCount;
    return g_engine.discovery.LastStatus;
}

OSTREL_API int32_t DAQ_GetDeviceInfo(int32_t boardIndex, uint32_t *vendorId, uint32_t *deviceId,
                                     uint32_t *bus, uint32_t *slot, uint32_t *function,
                                     uint32_t *resourceWord) noexcept {
    if (vendorId == nullptr || deviceId == nullptr || bus == nullptr || slot == nullptr ||
        function == nullptr || resourceWord == nullptr || !IsRecordedBoard(boardIndex)) {
        return DAQ_ERROR;
    }
    const ostrel::DiscoveryState &discovery = g_engine.discovery;
    *vendorId = discovery.VendorID;
    *deviceId = discovery.DeviceIDs[boardIndex];
    *bus = discovery.DeviceBusNumbers[boardIndex];
    *slot = discovery.DeviceSlotNumbers[boardIndex];
    *function = discovery.DeviceFunctionNumbers[boardIndex];
    *resourceWord = discovery.DeviceResources[4];  // of the opened board, whatever the index
    return discovery.LastStatus;
}

OSTREL_API int32_t DAQ_GetDeviceModel(int32_t boardIndex, int32_t *model) noexcept {
    if (model == nullptr || !IsRecordedBoard(boardIndex)) return DAQ_ERROR;
    *model = ostrel::ReportedModelOf(g_engine.discovery.DeviceIDs[boardIndex]);
    g_engine.discovery.LastStatus = 0;
    return 0;
}

OSTREL_API int32_t GetDeviceResource(uint32_t *word0, uint32_t *word1, uint32_t *word2,
                                     uint32_t *word3) noexcept {
    if (word0 == nullptr || word1 == nullptr || word2 == nullptr || word3 == nullptr) {
        return DAQ_ERROR;
    }
    const uint32_t *resources = g_engine.discovery.DeviceResources;
    *word0 = resources[0];
    *word1 = resources[1];
    *word2 = resources[2];
    *word3 = resources[3];
    return g_engine.discovery.LastStatus;
}

}  // extern "C"
