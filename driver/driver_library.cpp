// Reference-counted connection to the driver-access library: opened by the first reference,
// closed by the one that brings the count back to 0.
#include "driver/driver_binding.h"
#include "driver/driver_layer.h"
#include "engine/engine_state.h"

namespace ostrel {
namespace {

constexpr uint32_t kDebugOptions = 0x21;

}  // namespace

uint32_t OpenDriverLibrary() {
    // The count is raised before the library is called. A failed open takes its reference back,
    // so that the next open calls the library again instead of counting on one that is not open.
    uint32_t &references = g_engine.discovery.DriverOpenCount;
    const uint32_t count = ++references;
    if (count > 1u) return 0;

    // The first open of the process decides which library stands behind the contract.
    if (!BindDriverLibrary()) {
        DriverError("%s\n", DriverBindingProblem());
        --references;
        return kStatusNoDriverLibrary;
    }
    uint32_t status = WDC_SetDebugOptions(kDebugOptions, nullptr);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed to initialize debug options for WDC library.\nError 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
        --references;
        return status;
    }
    status = WDC_DriverOpen(WDC_DRV_OPEN_DEFAULT, nullptr);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed to initialize the WDC library. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
        --references;
        return status;
    }
    return 0;
}

uint32_t CloseDriverLibrary() {
    // A close without a matching open leaves the count at 0 and the library alone. Wrapping it
    // instead would make the next open-close cycle end at 0xFFFFFFFF with the library still open.
    uint32_t &count = g_engine.discovery.DriverOpenCount;
    if (count == 0u) return 0;
    if (--count != 0u) return 0;

    const uint32_t status = WDC_DriverClose();
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed to uninit the WDC library. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
        // The library is still open: the reference stays, so that a later close tries again.
        count = 1u;
    }
    return status;
}

}  // namespace ostrel
