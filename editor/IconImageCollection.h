#pragma once

#include "model/IconImage.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

namespace corvex {

// The catalogue of emoji icons the user can choose, read once per process from the resource
// "emoji_list.txt" and grouped into named categories in file order.
//
// Format: UTF-8 lines; "#name" starts the category "name" (nothing trimmed); any other line
// with at least four ";"-separated fields is an icon (field 0 the symbol, field 1 its name);
// shorter lines are skipped; icons before the first category line belong to "UNKNOWN". A
// category without icons is never listed; a repeated name is listed again and the dictionary
// keeps its last block. A missing or unreadable resource gives an empty catalogue.
//
// Right after parsing, a task on the global queue at background priority asks every icon for
// its image, so that the icon tab finds them made. The category lists never change after
// parsing: any thread may read them.
class IconImageCollection
{
public:
    static const QString ResourcePath; // ":/editor/emoji_list.txt"

    // The catalogue, made on first use (exactly once, whichever threads ask), preloading
    // started; or the override when one is set.
    static std::shared_ptr<const IconImageCollection> instance();
    // Tests hand in a catalogue of their own; null goes back to the resource.
    static void setInstanceOverride(std::shared_ptr<const IconImageCollection> collection);

    // A catalogue from text in the format above (no preloading).
    static std::shared_ptr<IconImageCollection> fromText(const QByteArray& utf8);
    // From a file or resource; empty when it cannot be read.
    static std::shared_ptr<IconImageCollection> fromFile(const QString& path);

    const QStringList& categories() const { return mCategories; }
    // Null for a name that is not a category.
    const std::vector<IconImagePtr>* iconImagesByCategory(const QString& category) const;

    // Asks every icon for its image on the global queue at background priority.
    void startPreloading(const std::shared_ptr<const IconImageCollection>& self) const;
    bool preloadFinished() const { return mPreloadFinished.load(); }
    // Stops every preload still running after its current icon and waits for it (at most
    // about two seconds), for tests that make catalogues of their own. The application's end
    // stops it with all background drawing (BackgroundDrawing).
    static void stopPreloading();

private:
    QStringList mCategories;
    QHash<QString, std::vector<IconImagePtr>> mIconsByCategory;
    mutable std::atomic<bool> mPreloadFinished{false};
};

} // namespace corvex
