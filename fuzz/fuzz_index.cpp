// The JSON index reader (IndexJSONDocument: JSONDecoder with the "proxies" and "iconImage"
// aliases, the version check, the move to the Dropbox location) on arbitrary bytes. A list
// that reads must hold only proxies with a document identifier of location 3, must write
// again, and must settle: the list read back from our own output writes the same bytes and
// reads the same summaries again.

#include "model/JSONDecoder.h"
#include "platform/core/Log.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/IndexJSONDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using corvex::IdeaProxyPtr;
using corvex::IndexJSONDocument;

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_index: %s %s\n", what, detail.left(400).constData());
    std::abort();
}

std::optional<std::vector<IdeaProxyPtr>> read(const QByteArray& bytes)
{
    const auto decoder = IndexJSONDocument::makeDecoder(bytes);
    corvex::Error error;
    auto list = IndexJSONDocument::decodeProxies(*decoder, &error);
    if (!list && error.isNull())
        fail("a refused index without an error");
    return list;
}

void checkList(const std::vector<IdeaProxyPtr>& list)
{
    for (const IdeaProxyPtr& proxy : list) {
        if (!proxy)
            fail("a null proxy in the list");
        if (proxy->docIdentifier().isEmpty())
            fail("a proxy without a document identifier was kept");
        if (proxy->location() != corvex::IdeaDocument::DropboxLocation)
            fail("a proxy outside the Dropbox location:", proxy->docIdentifier().toUtf8());
        (void)proxy->description();
        (void)proxy->fileURL();
    }
}

QByteArray write(const std::vector<IdeaProxyPtr>& list)
{
    const auto index = IndexJSONDocument::initWithFileURL(QUrl());
    index->setIdeaProxyList(list);
    const auto json = index->contentsAsJSONData();
    if (!json.ok())
        fail("a list that read does not write:", json.error().toString().toUtf8());
    return json.value();
}

// What a summary shows, for comparing two reads.
QByteArray summary(const std::vector<IdeaProxyPtr>& list)
{
    QByteArray text;
    for (const IdeaProxyPtr& proxy : list) {
        text += proxy->docIdentifier().toUtf8() + '|' + proxy->text().toUtf8() + '|' +
                QByteArray::number(proxy->itemCount()) + '|' + QByteArray::number(proxy->hasNote()) +
                QByteArray::number(proxy->hasWebLink()) + '|' + QByteArray::number(proxy->ideaType()) + '|' +
                proxy->dateModified().toString(Qt::ISODate).toUtf8() + '\n';
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
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

    // Generation 1 may normalise (file names reduced to their last component, values out of
    // range); from then on the list stays the same.
    const QByteArray firstJson = write(*first);
    const auto second = read(firstJson);
    if (!second)
        fail("our own output does not read:", firstJson);
    checkList(*second);
    const QByteArray secondJson = write(*second);
    const auto third = read(secondJson);
    if (!third)
        fail("our own output does not read:", secondJson);
    checkList(*third);
    if (summary(*third) != summary(*second))
        fail("the summaries change when read back:", secondJson);
    if (write(*third) != secondJson)
        fail("writing the read-back list differs:", secondJson);
    return 0;
}
