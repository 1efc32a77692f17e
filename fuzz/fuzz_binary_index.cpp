// The binary index reader of the synced folder (IndexDocument::loadFromContents: a keyed
// archive of the version, the instance and the summaries, each IdeaProxy with its "image2"
// picture) on arbitrary bytes. A refused index says why; a list that reads holds only
// summaries with a document identifier in the iCloud location, writes again, and settles:
// the list read back from our own output writes the same bytes and shows the same
// summaries again.

#include "model/Color.h"
#include "model/IconImage.h"
#include "platform/core/Log.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/IndexDocument.h"

#include <QCoreApplication>
#include <QUrl>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

using corvex::IdeaProxyPtr;
using corvex::IndexDocument;

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_binary_index: %s %s\n", what, detail.left(400).toHex().constData());
    std::abort();
}

std::optional<std::vector<IdeaProxyPtr>> read(const QByteArray& bytes)
{
    const auto index = IndexDocument::initWithFileURL(QUrl());
    corvex::Error error;
    if (!index->loadFromContents(bytes, &error, false)) {
        if (error.isNull())
            fail("a refused index without an error");
        if (!index->ideaProxyList().empty())
            fail("a refused index changed the list");
        return std::nullopt;
    }
    return index->ideaProxyList();
}

void checkList(const std::vector<IdeaProxyPtr>& list)
{
    for (const IdeaProxyPtr& proxy : list) {
        if (!proxy)
            fail("a null proxy in the list");
        if (proxy->docIdentifier().isEmpty())
            fail("a proxy without a document identifier was kept");
        if (proxy->location() != corvex::IdeaDocument::ICloudLocation)
            fail("a proxy outside the iCloud location:", proxy->docIdentifier().toUtf8());
        if (proxy->image().hasImage()) {
            const auto size = proxy->image().pixelSize();
            if (!(size.width > 0) || !(size.height > 0))
                fail("a picture without pixels was kept");
        }
        (void)proxy->description();
    }
}

QByteArray write(const std::vector<IdeaProxyPtr>& list)
{
    const auto index = IndexDocument::initWithFileURL(QUrl());
    index->setIdeaProxyList(list);
    const auto archive = index->contentsAsBinaryData();
    if (!archive.ok())
        fail("a list that read does not write:", archive.error().toString().toUtf8());
    return archive.value();
}

// What a summary shows, for comparing two reads.
QByteArray summary(const std::vector<IdeaProxyPtr>& list)
{
    QByteArray text;
    for (const IdeaProxyPtr& proxy : list) {
        const auto size = proxy->image().hasImage() ? proxy->image().pixelSize() : corvex::Size();
        text += proxy->docIdentifier().toUtf8() + '|' + proxy->ideaIdentifier().toUtf8() + '|' +
                proxy->text().toUtf8() + '|' + QByteArray::number(proxy->itemCount()) + '|' +
                QByteArray::number(proxy->hasNote()) + QByteArray::number(proxy->hasWebLink()) + '|' +
                QByteArray::number(proxy->ideaType()) + '|' +
                proxy->dateCreated().toString(Qt::ISODateWithMs).toUtf8() + '|' +
                proxy->dateModified().toString(Qt::ISODateWithMs).toUtf8() + '|' +
                (proxy->color() ? proxy->color()->name().toUtf8() : QByteArray("-")) + '|' +
                (proxy->iconImage() ? proxy->iconImage()->name().toUtf8() : QByteArray("-")) + '|' +
                QByteArray::number(size.width) + 'x' + QByteArray::number(size.height) + '\n';
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Picture formats (JPEG) are found through the application object.
    static QCoreApplication app(*argc, *argv);
    // Refused inputs are logged one line each; the fuzzer needs none of them.
    corvex::Log::setSink([](corvex::LogLevel, const QString&) {});
    corvex::IdeaProxy::registerCodable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto first = read(input);
    if (!first)
        return 0;
    checkList(*first);

    // Generation 1 may normalise (identifiers moved to the iCloud location, pictures
    // re-encoded); from then on the list stays the same.
    const QByteArray firstArchive = write(*first);
    const auto second = read(firstArchive);
    if (!second)
        fail("our own output does not read:", firstArchive);
    checkList(*second);
    if (second->size() != first->size())
        fail("summaries were lost when read back:", firstArchive);
    const QByteArray secondArchive = write(*second);
    const auto third = read(secondArchive);
    if (!third)
        fail("our own output does not read:", secondArchive);
    if (summary(*third) != summary(*second))
        fail("the summaries change when read back:", secondArchive);
    if (write(*third) != secondArchive)
        fail("writing the read-back list differs:", secondArchive);
    return 0;
}
