#pragma once

#include <QString>
#include <QStringList>

namespace corvex {

// Removes, under the program's own folders, the named temporaries (SaveFile's names only)
// that saves killed between naming them and the rename left. A folder is cleaned only while
// no save in it is under way, in this process or another: SaveFile holds its folder's lock
// shared from open() to the end, and the sweep takes it exclusively without waiting (see
// SaveFile). Folders are walked without following symbolic links, to a bounded depth;
// `skipped` folders (a container that a sync tool shares with other machines, whose saves
// no lock here can see) and everything below them are left alone. Any thread; slow on
// large trees, so a global queue's work. Returns how many were removed.
class StaleTemporarySweep
{
public:
    static constexpr int MaximumDepth = 8;

    static int run(const QStringList& roots, const QStringList& skipped = {});

    // The program's own folders: its folder in the data, configuration and cache folders.
    static QStringList ownFolders();
};

} // namespace corvex
