// The product name and version, shown in the window title and the about box.
#pragma once

#include "imaging/libraryversions.h"

#include <QString>

namespace appversion {

inline constexpr const char *kProductName = "Velmora";

// "Velmora 1.00": the product name, a blank and the version.
inline QString ProductAndVersion()
{
    return QString::fromLatin1(kProductName) + QLatin1Char(' ') + QString::fromLatin1(VelmoraVersion());
}

}  // namespace appversion
