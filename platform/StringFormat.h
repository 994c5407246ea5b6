// printf-style formatting into std::string, used by the platform's own units.
#pragma once

#include <cstdarg>
#include <string>

#include "foundation/Export.h"

IDX_EXPORT std::string FXFormatV(const char *szFormat, va_list args);
IDX_EXPORT std::string FXFormat(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));
