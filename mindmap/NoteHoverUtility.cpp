#include "mindmap/NoteHoverUtility.h"

#include <utility>

namespace corvex {

namespace {

NoteHoverUtility::Factory& noteHoverFactorySlot()
{
    static NoteHoverUtility::Factory factory;
    return factory;
}

} // namespace

NoteHoverUtility::~NoteHoverUtility() = default;

void NoteHoverUtility::observeCursorHoveringOverNoteOfIdea(const std::optional<QString>& note, const QString&,
                                                           Point viewPoint)
{
    observeCursorHoveringOver(note, viewPoint);
}

void NoteHoverUtility::closeIfOpen() {}

void NoteHoverUtility::setFactory(Factory factory)
{
    noteHoverFactorySlot() = std::move(factory);
}

bool NoteHoverUtility::hasFactory()
{
    return bool(noteHoverFactorySlot());
}

std::unique_ptr<NoteHoverUtility> NoteHoverUtility::create(std::weak_ptr<NoteHoverUtilityDelegate> delegate)
{
    const Factory& factory = noteHoverFactorySlot();
    if (!factory)
        return nullptr;
    return factory(std::move(delegate));
}

} // namespace corvex
