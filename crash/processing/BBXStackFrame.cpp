#include "crash/processing/BBXStackFrame.h"

namespace corvex {

QString BBXStackFrame::description() const
{
    const QString hex = QString::number(address, 16);
    const QString name = symbol.value_or(QStringLiteral("(null)"));
    if (fileName)
        return QStringLiteral("{[0x%1] %2 - %3:%4}").arg(hex, *fileName, name).arg(lineNumber);
    return QStringLiteral("{[0x%1 + %2] %3}").arg(hex).arg(lineNumber).arg(name);
}

} // namespace corvex
