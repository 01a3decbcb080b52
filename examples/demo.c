/* Demo on the simulated board (placeholder until discovery is built). */
#include <stdio.h>

#include "OstrelDAQEngine.h"

int main(void) {
    printf("TestFunction(3) = %u\n", TestFunction(3));
    return 0;
}
