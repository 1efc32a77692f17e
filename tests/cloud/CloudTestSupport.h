#pragma once

// Shared pieces of the container back end's tests: a workspace over a CloudMode on a
// container folder of the test, documents written as another machine writes them, and
// pumping the main loop and virtual time until something holds.

#include "cloud/container/CloudMode.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/FileChangeWatcher.h"
#include "platform/core/JsonText.h"
#include "platform/core/SaveFile.h"
#include "storage/Workspace.h"
#include "tests/storage/WorkspaceTestSupport.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace corvex::test {

inline QString cloudDataDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../data/cloud"));
}

inline QString cloudScript(const QString& name)
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../data/gen/") + name);
}

inline QString iCloudId(const QString& name)
{
    return IdeaDocument::docIdentifierFromPath(name, IdeaDocument::ICloudLocation);
}

// The stored bytes of a document whose payload names `instance` (another machine's
// program), plain JSON as the container keeps documents.
inline QByteArray cloudDocumentBytes(const IdeaPtr& root, const QString& instance)
{
    const auto payload = IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime());
    const Result<QByteArray> json = payload->jsonData();
    EXPECT_TRUE(json.ok());
    Result<Value> parsed = JsonText::parse(json.valueOr(QByteArray()));
    EXPECT_TRUE(parsed.ok());
    Value tree = parsed.ok() ? std::move(parsed).value() : Value();
    if (ValueDictionary* top = tree.editDictionary()) {
        const QString key =
            IdeaDocumentDataObject::ClassName.at(0).toLower() + IdeaDocumentDataObject::ClassName.mid(1);
        if (Value* inner = top->find(key)) {
            if (ValueDictionary* fields = inner->editDictionary())
                fields->insert(IdeaDocumentDataObject::AppInstanceKey, Value(instance));
        }
    }
    return IdeaDocumentDataObject::storedForm(JsonText::serialize(tree), true).valueOr(QByteArray());
}

// The root text of a stored document; null when it does not parse.
inline QString storedRootText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const auto payload = IdeaDocumentDataObject::readFromSomeData(file.readAll());
    return payload && payload->idea() ? payload->idea()->text() : QString();
}

// The names in a folder (files only), sorted.
inline QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Pumps the main loop; whenever nothing is due, moves virtual time by `step` (the change
// watcher's debounce, the index retry), until the predicate holds.
inline bool pumpCloud(ScopedVirtualTime& time, const std::function<bool()>& predicate, double step = 0.25)
{
    return runUntil([&] {
        if (predicate())
            return true;
        if (time.runDue() == 0)
            time.advance(step);
        return predicate();
    });
}

// A workspace of the iCloud location over a CloudMode on <test dir>/<name>.
struct CloudFixture
{
    explicit CloudFixture(const QString& name = QStringLiteral("container"), bool makeContainer = true)
        : container(testDir() + QLatin1Char('/') + name)
    {
        if (makeContainer)
            QDir().mkpath(container);
    }
    ~CloudFixture()
    {
        if (workspace) {
            workspace->setDelegate(nullptr);
            workspace->closeWorkspace();
        }
    }
    CloudFixture(const CloudFixture&) = delete;
    CloudFixture& operator=(const CloudFixture&) = delete;

    QString documents() const { return container + QStringLiteral("/Documents"); }
    QString documentPath(const QString& name) const { return documents() + QLatin1Char('/') + name; }
    QString indexPath() const { return documentPath(QStringLiteral("corvex.index")); }

    // Starts the mode (services over the container unless given) and its workspace.
    void start(std::optional<CloudServices> given = std::nullopt)
    {
        CloudServices services = given ? *given : CloudServices::forFolder(container, false);
        mode = CloudMode::create(std::move(services));
        workspace = Workspace::initForLocation(IdeaDocument::ICloudLocation, mode, &delegate);
    }

    bool sawStatus(WorkspaceStatus status) const
    {
        return delegate.events.contains(QStringLiteral("status %1").arg(static_cast<unsigned>(status)));
    }
    QStringList statuses() const { return delegate.events.filter(QStringLiteral("status ")); }

    // Writes a document as another machine's program does (nothing is reported).
    void writeForeign(const QString& name, const QString& rootText, const QStringList& children = {})
    {
        QDir().mkpath(documents());
        ASSERT_TRUE(SaveFile::writeAtomically(
                        documentPath(name),
                        cloudDocumentBytes(treeWithChildren(rootText, children), QStringLiteral("MAC_OTHER")))
                        .ok());
    }

    QStringList listed() const { return identifiersOf(workspace->ideaProxies()); }

    QString container;
    RecordingWorkspaceDelegate delegate;
    std::shared_ptr<CloudMode> mode;
    std::shared_ptr<Workspace> workspace;
};

} // namespace corvex::test
