// Lets the compiler check the arguments of our printf-style message functions where it can.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define OSTREL_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define OSTREL_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
