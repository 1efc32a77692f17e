// The bare decode of a document file opened from the command line, the yardstick of
// tools/bench-startup --file: a document archive (.corvex) inflated with zlib and parsed with
// nlohmann::json, an OPML file parsed with Qt's XML reader into a list of outlines, nothing
// of Corvex's own readers. Three uses:
//   bench_startup_files make-corvex COUNT PATH [real]
//                                               writes a factory document of COUNT ideas as an
//                                                archive (no attachments); of the real shape
//                                                (links, pictures) with `real`;
//   bench_startup_files make-opml COUNT PATH    writes the same tree as an OPML outline;
//   bench_startup_files decode PATH             reads and decodes the file once and prints
//                                                "decoded in <ms> ms" (reading included);
// and, without a verb, Google Benchmark over the same decodes of 1,000 ideas and of the
// sizes bench-startup times (100,000 in an archive, of today's and the real shape (real=0/1)
// and of the picture-rich shape and its twin (real=3/4), and 1,000,000
// with CORVEX_BENCH_LARGE=1; 20,000 in OPML).

#include "bench/FailedRunReporter.h"
#include "tests/factory/DocumentFactory.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

// The smoke run (CORVEX_BENCH_TINY=1): one small size each. This program has its own main, for
// its verbs, so it cannot share the benchmarks' common one.
bool tiny()
{
    const char* value = std::getenv("CORVEX_BENCH_TINY");
    return value != nullptr && value[0] == '1';
}

const char ArchiveMagic[] = {'\x9C', '\x78', '\x78', '\x01'};

// What a decode found: ideas (JSON objects with "identifier", or outline elements).
struct Decoded
{
    bool ok = false;
    std::size_t ideas = 0;
};

// Streams the whole zlib stream out, growing the text as it goes: the size of the text is
// not stored.
bool inflateAll(const char* data, std::size_t size, std::string& text)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = uInt(size);
    text.resize(size * 6);
    std::size_t produced = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (produced == text.size())
            text.resize(text.size() * 2);
        stream.next_out = reinterpret_cast<Bytef*>(text.data() + produced);
        stream.avail_out = uInt(text.size() - produced);
        status = inflate(&stream, Z_NO_FLUSH);
        produced = text.size() - stream.avail_out;
    }
    inflateEnd(&stream);
    text.resize(produced);
    return status == Z_STREAM_END;
}

std::size_t countIdeas(const nlohmann::json& idea)
{
    std::size_t count = 1;
    const auto children = idea.find("ideas");
    if (children != idea.end() && children->is_array())
        for (const nlohmann::json& child : *children)
            count += countIdeas(child);
    return count;
}

// The archive's first chunk (the payload) inflated and parsed; attachments are not read.
Decoded decodeArchive(const QByteArray& file)
{
    Decoded decoded;
    if (file.size() < 8 || std::memcmp(file.constData(), ArchiveMagic, 4) != 0)
        return decoded;
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.constData());
    const std::size_t length = (std::size_t(bytes[4]) << 24) | (std::size_t(bytes[5]) << 16) |
                               (std::size_t(bytes[6]) << 8) | std::size_t(bytes[7]);
    if (length > std::size_t(file.size()) - 8)
        return decoded;
    std::string text;
    if (!inflateAll(file.constData() + 8, length, text))
        return decoded;
    const nlohmann::json payload = nlohmann::json::parse(text, nullptr, false);
    if (payload.is_discarded())
        return decoded;
    const auto object = payload.find("ideaDocumentDataObject");
    if (object == payload.end() || !object->contains("idea"))
        return decoded;
    decoded.ideas = countIdeas(object->at("idea"));
    decoded.ok = true;
    return decoded;
}

// Each outline's text and note kept with its parent, as a reader that builds a tree must.
struct Outline
{
    QString text;
    QString note;
    int parent = -1;
};

Decoded decodeOpml(const QByteArray& file)
{
    Decoded decoded;
    std::vector<Outline> outlines;
    std::vector<int> open;
    QXmlStreamReader reader(file);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && reader.name() == QLatin1String("outline")) {
            const QXmlStreamAttributes attributes = reader.attributes();
            outlines.push_back({attributes.value(QLatin1String("text")).toString(),
                                attributes.value(QLatin1String("_note")).toString(),
                                open.empty() ? -1 : open.back()});
            open.push_back(int(outlines.size()) - 1);
        } else if (token == QXmlStreamReader::EndElement && reader.name() == QLatin1String("outline")) {
            open.pop_back();
        }
    }
    decoded.ok = !reader.hasError() && !outlines.empty();
    decoded.ideas = outlines.size();
    return decoded;
}

bool isOpmlPath(const QString& path)
{
    return path.endsWith(QLatin1String(".opml"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive);
}

QByteArray archiveBytes(int count, corvex::test::TreeShape shape)
{
    const QByteArray json = corvex::test::makePayloadJson(corvex::test::makeTree(shape, count));
    uLongf size = compressBound(uLong(json.size()));
    QByteArray payload(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(payload.data()), &size,
                  reinterpret_cast<const Bytef*>(json.constData()), uLong(json.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return QByteArray();
    payload.truncate(qsizetype(size));
    QByteArray file(ArchiveMagic, 4);
    const auto length = quint32(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file.append(char((length >> shift) & 0xFF));
    return file + payload;
}

void writeOutline(QXmlStreamWriter& writer, const std::vector<corvex::test::FactoryIdea>& ideas, int index)
{
    const corvex::test::FactoryIdea& idea = ideas[std::size_t(index)];
    writer.writeStartElement(QStringLiteral("outline"));
    writer.writeAttribute(QStringLiteral("text"), idea.text);
    if (!idea.note.isEmpty())
        writer.writeAttribute(QStringLiteral("_note"), idea.note);
    for (const int child : idea.children)
        writeOutline(writer, ideas, child);
    writer.writeEndElement();
}

QByteArray opmlBytes(int count)
{
    // The factory's tree is eight children wide: a few levels deep at any size.
    const std::vector<corvex::test::FactoryIdea> ideas = corvex::test::makeDocumentTree(count);
    QByteArray file;
    QXmlStreamWriter writer(&file);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("opml"));
    writer.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    writer.writeStartElement(QStringLiteral("head"));
    writer.writeTextElement(QStringLiteral("title"), ideas.front().text);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("body"));
    writeOutline(writer, ideas, 0);
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return file;
}

int writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !file.commit()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("wrote %s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
    return 0;
}

int decodeFile(const QString& path)
{
    const auto started = std::chrono::steady_clock::now();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    const QByteArray bytes = file.readAll();
    const Decoded decoded = isOpmlPath(path) ? decodeOpml(bytes) : decodeArchive(bytes);
    const double milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    if (!decoded.ok) {
        std::fprintf(stderr, "%s could not be decoded\n", qPrintable(path));
        return 1;
    }
    std::printf("%zu ideas, %lld bytes, decoded in %.1f ms\n", decoded.ideas,
                static_cast<long long>(bytes.size()), milliseconds);
    return 0;
}

void runDecode(benchmark::State& state, const QByteArray& bytes, Decoded (*decode)(const QByteArray&))
{
    Decoded decoded;
    for (auto _ : state) {
        decoded = decode(bytes);
        benchmark::DoNotOptimize(decoded.ideas);
    }
    if (!decoded.ok || decoded.ideas != std::size_t(state.range(0)))
        state.SkipWithError("the file did not decode to its ideas");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * bytes.size());
    state.counters["file_mb"] = double(bytes.size()) / 1e6;
}

void BM_BareDecodeArchive(benchmark::State& state)
{
    runDecode(state, archiveBytes(int(state.range(0)), corvex::test::TreeShape(state.range(1))),
              &decodeArchive);
}

void BM_BareDecodeOpml(benchmark::State& state)
{
    runDecode(state, opmlBytes(int(state.range(0))), &decodeOpml);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString verb = arguments.size() > 1 ? arguments.at(1) : QString();
    if (verb == QLatin1String("make-corvex") && (arguments.size() == 4 || arguments.size() == 5)) {
        const bool real = arguments.size() == 5 && arguments.at(4) == QLatin1String("real");
        if (arguments.size() == 5 && !real) {
            std::fprintf(stderr, "make-corvex COUNT PATH [real]\n");
            return 1;
        }
        return writeFile(arguments.at(3),
                         archiveBytes(arguments.at(2).toInt(), corvex::test::TreeShape(real)));
    }
    if (verb == QLatin1String("make-opml") && arguments.size() == 4)
        return writeFile(arguments.at(3), opmlBytes(arguments.at(2).toInt()));
    if (verb == QLatin1String("decode") && arguments.size() == 3)
        return decodeFile(arguments.at(2));

    std::vector<char*> args(argv, argv + argc);
    static char minTime[] = "--benchmark_min_time=0.000001";
    if (tiny())
        args.push_back(minTime);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    std::vector<std::int64_t> archives{1000, 100000};
    if (tiny())
        archives = {100};
    else if (const char* large = std::getenv("CORVEX_BENCH_LARGE"); large != nullptr && large[0] == '1')
        archives.push_back(1000000);
    auto* archive = benchmark::RegisterBenchmark("BM_BareDecodeArchive", BM_BareDecodeArchive);
    for (const std::int64_t ideas : archives) {
        // Today's shape, the real one, and up to 100,000 ideas the picture-rich one and its
        // twin without pictures (beyond, its stored text is over what the reader takes).
        for (const std::int64_t shape : {0, 1, 3, 4}) {
            if (shape < 3 || ideas <= 100000)
                archive->Args({ideas, shape});
        }
    }
    archive->ArgNames({"ideas", "real"})->Unit(benchmark::kMillisecond);
    for (const std::int64_t ideas :
         tiny() ? std::vector<std::int64_t>{100} : std::vector<std::int64_t>{1000, 20000})
        benchmark::RegisterBenchmark("BM_BareDecodeOpml", BM_BareDecodeOpml)
            ->Arg(ideas)
            ->Unit(benchmark::kMillisecond);
    corvex::bench::FailedRunReporter reporter;
    const std::size_t matched = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.exitStatus(matched);
}
