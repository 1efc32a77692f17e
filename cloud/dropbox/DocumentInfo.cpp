#include "cloud/dropbox/DocumentInfo.h"

namespace corvex {

namespace {

QString describeSlot(const QVFileInfo::Ref& info)
{
    return info ? info->description() : QStringLiteral("(null)");
}

} // namespace

DocumentInfo::DocumentInfo(QVFileInfo::Ref input, QVFileInfo::Ref current, QVFileInfo::Ref output)
    : mInput(std::move(input)), mCurrent(std::move(current)), mOutput(std::move(output))
{}

DocumentInfo::Ref DocumentInfo::make(QVFileInfo::Ref input, QVFileInfo::Ref current, QVFileInfo::Ref output)
{
    return std::make_shared<const DocumentInfo>(std::move(input), std::move(current), std::move(output));
}

DocumentInfo::Ref DocumentInfo::withInput(QVFileInfo::Ref input) const
{
    return make(std::move(input), mCurrent, mOutput);
}

DocumentInfo::Ref DocumentInfo::withCurrent(QVFileInfo::Ref current) const
{
    return make(mInput, std::move(current), mOutput);
}

DocumentInfo::Ref DocumentInfo::withOutput(QVFileInfo::Ref output) const
{
    return make(mInput, mCurrent, std::move(output));
}

bool DocumentInfo::inConflict() const
{
    return mInput && !mInput->isEmpty() && mOutput;
}

bool DocumentInfo::containsData() const
{
    return mInput || mCurrent || mOutput;
}

QString DocumentInfo::description() const
{
    return QStringLiteral("{DocumentInfo: input=%1 current=%2 output=%3}")
        .arg(describeSlot(mInput), describeSlot(mCurrent), describeSlot(mOutput));
}

} // namespace corvex
