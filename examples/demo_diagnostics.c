/* Demo section: the DMA bandwidth test of the opened board. */
#include <stdio.h>
#include <stdlib.h>

#include "OstrelDAQEngine.h"
#include "demo.h"

void demo_diagnostics(void) {
    int32_t chunkPoints = 0;
    size_t poolBytes;
    uint8_t *pool;
    float rate = 0.0f;

    DAQ_GetDMATransferPoints(&chunkPoints);
    poolBytes = (size_t)16 * (size_t)chunkPoints * 2; /* 16 chunks of 2-byte points */
    printf("\nDMA bandwidth test (16 chunks of %d points, %lu bytes):\n", (int)chunkPoints,
           (unsigned long)poolBytes);
    if (chunkPoints <= 0) {
        printf("  no board model\n");
        return;
    }
    pool = malloc(poolBytes);
    if (pool == NULL) {
        printf("  no memory for the pool copy\n");
        return;
    }
    DAQ_StopAcquisition(); /* the test drives the dispatcher itself */
    if (DAQ_DMABandwidthTest(pool, &rate) == 0) {
        printf("  %.1f MB/s\n", rate);
    } else {
        printf("  the transfers did not finish\n");
    }
    free(pool);
}
