#pragma once

#include "platform/core/Result.h"

#include <QString>

namespace corvex {

// Where the application keeps its files, after the XDG base directory rules. Every call
// reads the environment afresh (nothing is cached), so a changed environment is followed
// at once. A variable that is unset, empty or not an absolute path counts as unset.
class Paths
{
public:
    // $XDG_DATA_HOME, else $HOME/.local/share.
    static QString applicationSupport();
    // $XDG_CACHE_HOME, else $HOME/.cache.
    static QString caches();
    // $XDG_CONFIG_HOME, else $HOME/.config.
    static QString config();
    // $XDG_RUNTIME_DIR, else caches().
    static QString runtime();
    // $HOME, else the home folder of the user's account.
    static QString home();

    // "com.tallowfen.corvex": the folder the application owns inside each of the above.
    static QString appFolderName();

    // caches()/com.tallowfen.corvex/tmp, made with mode 0700 when missing. Refused unless
    // it is a real folder (not a symbolic link) owned by this user; a wider mode is
    // narrowed to 0700.
    static Result<QString> privateTemporaryDirectory();

    // Makes `path` and its missing parents; new folders get `mode`. Succeeds when the
    // folder exists already.
    static Status makePath(const QString& path, unsigned mode = 0700);
    // Makes `path` and its missing parents for files that are the user's alone: each folder
    // it makes is 0700 whatever the umask; folders that exist are left as they are.
    static Status makePrivatePath(const QString& path);

private:
    static Status makeFolders(const QString& path, unsigned mode, bool exactMode);
};

} // namespace corvex
