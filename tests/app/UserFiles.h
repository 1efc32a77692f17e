#pragma once

#include <QColor>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <memory>

namespace corvex {
class Idea;
}

namespace corvex::test {

// What the user's machine holds before and after a journey: the application's defaults file,
// document files, the documents of a storage location. Paths are under the test's HOME.
class UserFiles
{
public:
    // A user default as the application stores it, written before the launch.
    static void setDefault(const QString& key, const QJsonValue& value);
    // The defaults file as it is on disk now (empty when there is none).
    static QJsonObject defaults();

    // The tree written as a Corvex document file in HOME; its path, empty on failure. Needs
    // the application object (the archive is written on the main queue), not the launch.
    static QString writeDocument(const QString& fileName, const std::shared_ptr<Idea>& root);
    // A new document holding the tree in a storage location (2 iCloud, 3 Dropbox), made
    // through the storage facade as the home screen's adder makes one; false when the
    // location refused it. Needs the launch.
    static bool addDocumentToLocation(unsigned location, const std::shared_ptr<Idea>& root);
    // A picture idea titled `title`, a plain picture of that colour, whose attachment is stored
    // where writeDocument finds it; null when it could not be stored. Needs the application
    // object.
    static std::shared_ptr<Idea> storedPicture(const QString& title, const QColor& colour);
    // The tree of a Corvex document file as a later launch would import it; null when it
    // cannot be read.
    static std::shared_ptr<Idea> readDocument(const QString& path);
    // Every file below a folder, as paths relative to it, sorted.
    static QStringList filesBelow(const QString& folder);
    // The path of the first file named `name` below a folder; empty when there is none.
    static QString findBelow(const QString& folder, const QString& name);
};

} // namespace corvex::test
