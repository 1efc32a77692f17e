// The legal notices against what Corvex really uses: the libraries the built application and
// every module it opens with dlopen link (their DT_NEEDED entries, each traced to its Debian
// package), the dictionary the spell checker opens, the faces a PDF export embeds and the
// files the web export copies. Adding a library, a module, a face or a copied data set
// without its notice fails here.

#include "editor/NoteSpellChecker.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "overview/MindMapToPDF.h"
#include "shell/ShellResources.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// The runtime every C++ program carries, which the notices leave out.
const QSet<QString> kSystemRuntime{QStringLiteral("libc6"), QStringLiteral("libstdc++6"),
                                   QStringLiteral("libgcc-s1")};

// The Debian packages the notices name, from their "Debian package(s) ..." lines.
QSet<QString> packagesInNotices(const QString& notices)
{
    QSet<QString> packages;
    static const QRegularExpression line(QStringLiteral("^Debian packages? (.+)$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(notices); it.hasNext();) {
        QString names = it.next().captured(1);
        names.remove(QRegularExpression(QStringLiteral("\\s*\\(.*\\)")));
        for (const QString& name : names.split(QLatin1Char(','), Qt::SkipEmptyParts))
            packages.insert(name.trimmed());
    }
    return packages;
}

QString run(const QString& program, const QStringList& arguments)
{
    const ProgramRun ran = runProgramToEnd(program, arguments);
    EXPECT_TRUE(ran.ran && ran.exitCode == 0)
        << program.toStdString() << " " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
        << ran.output.constData();
    return QString::fromLocal8Bit(ran.output);
}

// The packages that installed the files, by the file as asked ("" for one no package
// installed). Each path is tried as given, resolved, and as the system's merged /usr spells
// it; one dpkg-query answers them all.
QHash<QString, QString> packagesOf(const QStringList& paths)
{
    QHash<QString, QStringList> spellings;
    QStringList asked;
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        QStringList forms{path, QFileInfo(path).canonicalFilePath()};
        for (const QString& form : QStringList(forms))
            forms.append(form.startsWith(QStringLiteral("/usr/")) ? form.mid(4)
                                                                  : QStringLiteral("/usr") + form);
        forms.removeAll(QString());
        forms.removeDuplicates();
        spellings.insert(path, forms);
        asked.append(forms);
    }
    QHash<QString, QString> owners; // spelling -> package
    if (!asked.isEmpty()) {
        // Exit status 1 only says that some spellings belong to no package.
        const ProgramRun ran =
            runProgramToEnd(QStringLiteral("dpkg-query"), QStringList{QStringLiteral("-S")} + asked);
        EXPECT_TRUE(ran.ran);
        // "libqt6core6:amd64: /usr/lib/x86_64-linux-gnu/libQt6Core.so.6.4.2"
        for (const QString& line :
             QString::fromLocal8Bit(ran.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const qsizetype separator = line.indexOf(QStringLiteral(": /"));
            if (separator > 0)
                owners.insert(line.mid(separator + 2), line.left(separator).section(QLatin1Char(':'), 0, 0));
        }
    }
    QHash<QString, QString> packages;
    for (const QString& path : paths) {
        packages.insert(path, QString());
        for (const QString& form : spellings.value(path)) {
            if (owners.contains(form)) {
                packages.insert(path, owners.value(form));
                break;
            }
        }
    }
    return packages;
}

QString packageOf(const QString& path)
{
    return packagesOf({path}).value(path);
}

// The DT_NEEDED entries of a binary with the file each resolves to.
QList<QPair<QString, QString>> neededLibraries(const QString& binary)
{
    QStringList needed;
    static const QRegularExpression entry(QStringLiteral("\\(NEEDED\\)\\s+Shared library: \\[(.+)\\]"));
    for (auto it = entry.globalMatch(run(QStringLiteral("readelf"), {QStringLiteral("-d"), binary}));
         it.hasNext();)
        needed.append(it.next().captured(1));
    const QStringList resolved = run(QStringLiteral("ldd"), {binary}).split(QLatin1Char('\n'));
    QList<QPair<QString, QString>> libraries;
    for (const QString& soname : needed) {
        QString path;
        for (const QString& line : resolved) {
            const QStringList fields = line.simplified().split(QLatin1Char(' '));
            if (fields.size() >= 3 && fields[0] == soname && fields[1] == QLatin1String("=>"))
                path = fields[2];
            else if (!fields.isEmpty() && fields[0].endsWith(QLatin1Char('/') + soname))
                path = fields[0]; // the dynamic loader
        }
        libraries.append({soname, path});
    }
    return libraries;
}

// The application and the modules it opens with dlopen, as the build listed them.
QStringList productBinaries()
{
    QStringList binaries;
    for (const QByteArray& line : readFile(QStringLiteral(CORVEX_PRODUCT_BINARIES)).split('\n')) {
        if (!line.trimmed().isEmpty())
            binaries.append(QString::fromLocal8Bit(line.trimmed()));
    }
    return binaries;
}

// The notices as the legal notices window shows them.
QString legalNotices()
{
    return QString::fromUtf8(
        ShellResources::contentsOfResource(QStringLiteral("legal"), QStringLiteral("txt"))
            .value_or(QByteArray()));
}

bool toolsPresent()
{
    for (const char* tool : {"readelf", "ldd", "dpkg-query", "pdffonts", "fc-list"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    }
    return true;
}

} // namespace

TEST(LegalNotices, NameEveryLibraryTheApplicationAndItsModulesLinkAndTheDictionaryItOpens)
{
    if (!toolsPresent())
        GTEST_SKIP()
            << "readelf, ldd, dpkg-query, pdffonts and fc-list are needed (Debian's binutils, libc-bin, "
               "dpkg, poppler-utils, fontconfig)";
    const QSet<QString> named = packagesInNotices(legalNotices());
    ASSERT_TRUE(named.contains(QStringLiteral("libqt6core6"))) << "the notices' package lines are read";

    // Every shared object beside the application is a module it opens, listed by the build.
    const QStringList binaries = productBinaries();
    ASSERT_FALSE(binaries.isEmpty());
    EXPECT_EQ(binaries.front(), QStringLiteral(CORVEX_APP_BINARY));
    QDirIterator modules(QFileInfo(QStringLiteral(CORVEX_APP_BINARY)).absolutePath(),
                         {QStringLiteral("*.so*")}, QDir::Files, QDirIterator::Subdirectories);
    while (modules.hasNext()) {
        const QString module = modules.next();
        EXPECT_TRUE(binaries.contains(module))
            << module.toStdString() << " is not registered with corvex_register_dlopen_module";
    }

    QStringList missing;
    for (const QString& binary : binaries) {
        const auto libraries = neededLibraries(binary);
        EXPECT_GE(libraries.size(), 3) << binary.toStdString();
        QStringList paths;
        for (const auto& library : libraries)
            paths.append(library.second);
        const QHash<QString, QString> packages = packagesOf(paths);
        for (const auto& [soname, path] : libraries) {
            const QString package = packages.value(path);
            if (package.isEmpty()) {
                missing.append(QStringLiteral("%1 (%2: no package installed it)").arg(soname, path));
                continue;
            }
            if (!kSystemRuntime.contains(package) && !named.contains(package))
                missing.append(QStringLiteral("%1 (package %2, linked by %3)")
                                   .arg(soname, package, QFileInfo(binary).fileName()));
        }
    }

    // The dictionary of the notes' spell checking is read from its package's files.
    const QString dictionary = NoteSpellChecker::dictionaryFile();
    if (!dictionary.isEmpty()) {
        const QString package = packageOf(dictionary);
        if (package.isEmpty() || !named.contains(package))
            missing.append(
                QStringLiteral("%1 (package %2, the spelling dictionary)").arg(dictionary, package));
    }
    EXPECT_TRUE(missing.isEmpty()) << "missing from resources/texts/legal.txt:\n  "
                                   << missing.join(QStringLiteral("\n  ")).toStdString();
}

TEST(LegalNotices, NameEveryFaceAPdfExportEmbedsAndEveryDataSetTheWebExportCopies)
{
    if (!toolsPresent())
        GTEST_SKIP() << "readelf, ldd, dpkg-query, pdffonts and fc-list are needed";
    const QString notices = legalNotices();
    const QSet<QString> named = packagesInNotices(notices);

    // A map with a note, an emoji icon and titles in other scripts: its PDF embeds the faces
    // of titles, dates, notes and icons, and of Chinese, Japanese, Korean, Arabic and Hebrew.
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Trip to the coast"));
    const IdeaPtr child = Idea::initWithText(QStringLiteral("Pack"));
    child->setNote(QStringLiteral("Socks and boots"));
    child->setIconImage(
        IconImage::initWithName(QStringLiteral("tent"), QStringLiteral("Travel"), QStringLiteral("\u26FA")));
    ASSERT_TRUE(root->addIdea(child));
    for (const char* title : {"行李 荷物 짐", "حقيبة", "מזוודה"})
        ASSERT_TRUE(root->addIdea(Idea::initWithText(QString::fromUtf8(title))));
    const QString pdf = testDir() + QStringLiteral("/faces.pdf");
    Status written;
    bool done = false;
    MindMapToPDF(root, QDateTime::currentDateTimeUtc())
        .writePDFIntoURL(QUrl::fromLocalFile(pdf), [&](const Status& outcome) {
            written = outcome;
            done = true;
        });
    ASSERT_TRUE(runUntil([&] { return done; }, 60));
    ASSERT_TRUE(written) << written.error().toString().toStdString();

    // pdffonts names each embedded face ("ABCDEF+Lato-Regular"); fontconfig knows its file.
    QHash<QString, QString> fileOfFace;
    for (const QString& line : run(QStringLiteral("fc-list"),
                                   {QStringLiteral("-f"), QStringLiteral("%{postscriptname}\t%{file}\n")})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        fileOfFace.insert(line.section(QLatin1Char('\t'), 0, 0), line.section(QLatin1Char('\t'), 1));
    QStringList faces;
    QStringList missing;
    const QStringList listing = run(QStringLiteral("pdffonts"), {pdf}).split(QLatin1Char('\n'));
    for (const QString& line : listing.mid(2)) {
        const QString face = line.section(QLatin1Char(' '), 0, 0).section(QLatin1Char('+'), -1);
        if (!face.isEmpty())
            faces.append(face);
    }
    QStringList faceFiles;
    for (const QString& face : faces)
        faceFiles.append(fileOfFace.value(face));
    const QHash<QString, QString> facePackages = packagesOf(faceFiles);
    for (const QString& face : faces) {
        const QString package = facePackages.value(fileOfFace.value(face));
        if (package.isEmpty() || !named.contains(package))
            missing.append(QStringLiteral("the face %1 (%2, package %3), embedded in PDFs")
                               .arg(face, fileOfFace.value(face), package));
    }
    EXPECT_FALSE(faces.isEmpty()) << "no face found in the PDF";

    // Every file of the web export's resources is Corvex's own or drawn from a data set whose
    // notice says where it goes. A new file here needs a rule and, unless it is Corvex's own,
    // a notice.
    struct Origin
    {
        QRegularExpression files;
        QString package;     // the data set's Debian package, or empty
        QString noticeTitle; // a line the notice begins with, or empty for Corvex's own
        QString saysWhere;   // what the notice says about the exports
    };
    const std::vector<Origin> origins = {
        {QRegularExpression(QStringLiteral("^twemoji/[a-z0-9_]+\\.png$")),
         QStringLiteral("fonts-noto-color-emoji"), QStringLiteral("Noto Color Emoji"),
         QStringLiteral("every offline presentation")},
        {QRegularExpression(QStringLiteral("^include/corvex-emoji\\.js$")), QString(),
         QStringLiteral("Emoji names (Unicode Character Database)"),
         QStringLiteral("every web site and presentation")},
        {QRegularExpression(
             QStringLiteral("^(include/corvex-viewer\\.(js|css)|web_index\\.html|web_howto\\.html)$")),
         QString(), QString(), QString()},
    };
    const QDir web(QStringLiteral(CORVEX_SOURCE_ROOT "/resources/web"));
    QDirIterator it(web.path(), QDir::Files, QDirIterator::Subdirectories);
    int copied = 0;
    QSet<int> used;
    while (it.hasNext()) {
        const QString file = web.relativeFilePath(it.next());
        ++copied;
        const auto origin = std::find_if(origins.begin(), origins.end(),
                                         [&](const Origin& o) { return o.files.match(file).hasMatch(); });
        if (origin == origins.end()) {
            missing.append(
                QStringLiteral("%1, copied by the web export: no notice or rule names it").arg(file));
            continue;
        }
        used.insert(int(origin - origins.begin()));
    }
    EXPECT_GT(copied, 100);
    for (int index : used) {
        const Origin& origin = origins[std::size_t(index)];
        if (!origin.package.isEmpty() && !named.contains(origin.package))
            missing.append(QStringLiteral("package %1, copied by the web export").arg(origin.package));
        if (origin.noticeTitle.isEmpty())
            continue;
        const qsizetype at = notices.indexOf(QLatin1Char('\n') + origin.noticeTitle + QLatin1Char('\n'));
        const qsizetype end = notices.indexOf(QStringLiteral("\n\n\n"), at + 1);
        if (at < 0 || !notices.mid(at, end - at).contains(origin.saysWhere))
            missing.append(QStringLiteral("a notice \"%1\" saying its data goes into %2")
                               .arg(origin.noticeTitle, origin.saysWhere));
    }
    EXPECT_TRUE(missing.isEmpty()) << "missing from resources/texts/legal.txt:\n  "
                                   << missing.join(QStringLiteral("\n  ")).toStdString();
}

} // namespace corvex::test
