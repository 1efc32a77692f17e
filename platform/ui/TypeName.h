#pragma once

#include <QString>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace corvex {

// The name of a C++ type without its namespaces ("PlanetLayer"), for class names shown to
// developers.
inline QString unqualifiedTypeName(const std::type_info& type)
{
    const char* mangled = type.name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    const int colons = name.lastIndexOf(QLatin1String("::"));
    return colons >= 0 ? name.mid(colons + 2) : name;
}

} // namespace corvex
