#include "model/UrlExtension.h"

#include <gtest/gtest.h>

using namespace corvex;

namespace {

QUrl file(const char* path)
{
    return QUrl::fromLocalFile(QString::fromUtf8(path));
}

} // namespace

TEST(UrlExtension, OpmlNamesEndInOpmlOrXmlInAnyCase)
{
    for (const char* path : {"/a/outline.opml", "/a/outline.xml", "/a/OUTLINE.XML", "/a/Mixed.OpMl",
                             "/a/b.c.xml", "/a/folder.xml/"})
        EXPECT_TRUE(UrlExtension::potentiallyOPMLDocument(file(path))) << path;
    for (const char* path : {"/a/outline.xmlx", "/a/outlineopml", "/a/xml", "/a.xml/inner.txt", "/", ""})
        EXPECT_FALSE(UrlExtension::potentiallyOPMLDocument(file(path))) << path;
    EXPECT_TRUE(
        UrlExtension::potentiallyOPMLDocument(QUrl(QStringLiteral("https://example.com/feed.opml?x=1#y"))))
        << "only the path counts";
}

TEST(UrlExtension, CorvexDocumentsEndInCorvex)
{
    EXPECT_TRUE(UrlExtension::potentiallyCorvexDocument(file("/docs/plan.corvex")));
    EXPECT_TRUE(UrlExtension::potentiallyCorvexDocument(file("/docs/PLAN.CORVEX")));
    EXPECT_FALSE(UrlExtension::potentiallyCorvexDocument(file("/docs/plan.corvex.zip")));
    EXPECT_FALSE(UrlExtension::potentiallyCorvexDocument(file("/docs/plan.crvx")));
}

TEST(UrlExtension, ImagesAreBmpPngJpgAndJpeg)
{
    for (const char* path : {"/p/a.bmp", "/p/a.png", "/p/a.jpg", "/p/a.jpeg", "/p/A.JPEG", "/p/a.PnG"})
        EXPECT_TRUE(UrlExtension::potentiallyImageDocument(file(path))) << path;
    for (const char* path : {"/p/a.gif", "/p/a.jpe", "/p/a.png.txt", "/p/apng", "/p/a.tiff"})
        EXPECT_FALSE(UrlExtension::potentiallyImageDocument(file(path))) << path;
}

TEST(UrlExtension, TheLastPathComponentIsDecodedAndLowerCase)
{
    EXPECT_EQ(UrlExtension::lowerCaseLastPathComponent(QUrl(QStringLiteral("file:///a/My%20File.XML"))),
              QStringLiteral("my file.xml"));
    EXPECT_EQ(UrlExtension::lowerCaseLastPathComponent(file("/a/b/")), QStringLiteral("b"));
    EXPECT_EQ(UrlExtension::lowerCaseLastPathComponent(QUrl()), QString());
}
