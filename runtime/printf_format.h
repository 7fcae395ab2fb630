// Lets the compiler check the printf-style formats that the log and the debug output take.
#pragma once

#if defined(__clang__)
// clang knows no gnu_printf and checks C99 formats under the plain name.
#define DORVANE_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define DORVANE_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define DORVANE_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
