#pragma once

#include <QImage>
#include <QtGlobal>

#include <list>
#include <map>
#include <mutex>
#include <optional>

namespace corvex {

// The pictures decoded at the sizes they are drawn at, for the whole process, within a byte
// budget: the least recently drawn go first. A picture drawn smaller than it is never holds
// its full size: a document of large pictures costs what its planets on screen show.
// Entries are keyed by the picture's identity and the side of the square they fit in; a
// picture that goes takes its entries with it (forget). Any thread.
class PictureCache
{
public:
    // About two screens full of large planets at device scale 2 (a 300-pixel planet's picture
    // fits a 512-pixel square, 1 MiB), with room for the overview's and the home screen's.
    static constexpr qint64 DefaultBudgetBytes = qint64(96) << 20;

    static PictureCache& shared();

    // The image kept for this picture and side, marked as just drawn; none when there is
    // none (a null image is an answer: the picture did not decode at that side).
    std::optional<QImage> find(const void* picture, int side);
    // Keeps the image, then lets the least recently drawn go until the budget holds.
    void insert(const void* picture, int side, const QImage& image);
    void forget(const void* picture);
    // Whether some image of the picture is kept, at any side.
    bool holds(const void* picture) const;

    qint64 bytes() const;
    qint64 budget() const;
    // Tests only.
    void setBudget(qint64 bytes);
    void clear();

private:
    struct Entry
    {
        const void* picture;
        int side;
        QImage image;
    };
    void trim();

    mutable std::mutex mMutex;
    std::list<Entry> mEntries; // most recently drawn first
    // Ordered, so that a picture's entries at every side sit together for forget.
    std::map<std::pair<const void*, int>, std::list<Entry>::iterator> mIndex;
    qint64 mBytes = 0;
    qint64 mBudget = DefaultBudgetBytes;
};

} // namespace corvex
