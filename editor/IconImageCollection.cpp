#include "editor/IconImageCollection.h"

#include "platform/core/BackgroundDrawing.h"
#include "platform/core/GlobalQueue.h"

#include <QFile>
#include <chrono>
#include <mutex>
#include <thread>

// Q_INIT_RESOURCE must be used at global scope; resources of a static library are registered
// only when asked for.
static void registerEmojiCatalogue()
{
    Q_INIT_RESOURCE(emoji);
}

namespace corvex {

namespace {

std::mutex gOverrideMutex;
std::shared_ptr<const IconImageCollection> gOverride;
std::atomic<bool> gStopPreloading{false};
std::atomic<int> gPreloadsRunning{0};

} // namespace

const QString IconImageCollection::ResourcePath = QStringLiteral(":/editor/emoji_list.txt");

std::shared_ptr<const IconImageCollection> IconImageCollection::instance()
{
    {
        const std::lock_guard lock(gOverrideMutex);
        if (gOverride)
            return gOverride;
    }
    static const std::shared_ptr<const IconImageCollection> shared = [] {
        registerEmojiCatalogue();
        std::shared_ptr<const IconImageCollection> made = fromFile(ResourcePath);
        made->startPreloading(made);
        return made;
    }();
    return shared;
}

void IconImageCollection::setInstanceOverride(std::shared_ptr<const IconImageCollection> collection)
{
    const std::lock_guard lock(gOverrideMutex);
    gOverride = std::move(collection);
}

std::shared_ptr<IconImageCollection> IconImageCollection::fromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::make_shared<IconImageCollection>();
    return fromText(file.readAll());
}

std::shared_ptr<IconImageCollection> IconImageCollection::fromText(const QByteArray& utf8)
{
    auto collection = std::make_shared<IconImageCollection>();
    QString category = QStringLiteral("UNKNOWN");
    std::vector<IconImagePtr> current;
    const auto closeBlock = [&] {
        if (current.empty())
            return;
        collection->mIconsByCategory.insert(category, std::move(current));
        collection->mCategories.append(category);
        current = {};
    };
    const QString text = QString::fromUtf8(utf8);
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('#'))) {
            closeBlock();
            category = line.mid(1).toString();
            continue;
        }
        const QList<QStringView> fields = line.split(QLatin1Char(';'));
        if (fields.size() < 4)
            continue;
        current.push_back(IconImage::initWithName(fields[1].toString(), category, fields[0].toString()));
    }
    closeBlock();
    return collection;
}

const std::vector<IconImagePtr>* IconImageCollection::iconImagesByCategory(const QString& category) const
{
    const auto it = mIconsByCategory.constFind(category);
    return it == mIconsByCategory.constEnd() ? nullptr : &it.value();
}

void IconImageCollection::startPreloading(const std::shared_ptr<const IconImageCollection>& self) const
{
    if (!self)
        return;
    gPreloadsRunning.fetch_add(1);
    GlobalQueue::async(
        [self] {
            // Drawing with the fonts the application's end takes down: it stops with the
            // other background drawing (BackgroundDrawing), on every road out.
            const BackgroundDrawing::Job drawing;
            const auto stopping = [] {
                return gStopPreloading.load() || BackgroundDrawing::Job::shouldStop();
            };
            for (const QString& category : self->mCategories) {
                const auto* icons = self->iconImagesByCategory(category);
                for (std::size_t i = 0; drawing.admitted() && icons && i < icons->size() && !stopping(); ++i)
                    (void)(*icons)[i]->image();
            }
            self->mPreloadFinished.store(true);
            gPreloadsRunning.fetch_sub(1);
        },
        GlobalQueue::Priority::Background);
}

void IconImageCollection::stopPreloading()
{
    gStopPreloading.store(true);
    // Waited for in real time: the preload draws on another thread, outside any scheduler.
    for (int i = 0; i < 2000 && gPreloadsRunning.load() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace corvex
