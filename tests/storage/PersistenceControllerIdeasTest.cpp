// Idea operations of the persistence controller across documents and locations: fetching,
// copying before and inside, moving (copy, then delete the source), deleting, the consume
// chain, and the attachments that travel with a copied subtree.

#include "tests/storage/PersistenceControllerTestSupport.h"

#include "platform/core/MainQueue.h"
#include "storage/IdeaEditingService.h"
#include "storage/IdeaFilePresenter.h"
#include "tests/support/LogCapture.h"

#include <QFileInfo>
#include <QHash>

using namespace corvex;
using namespace corvex::test;
using Operation = TestFolderPersistenceState::Operation;

namespace {

QByteArray pictureBytes(int seed)
{
    return QByteArray("picture bytes ") + QByteArray::number(seed);
}

ObjectID attachmentFor(int seed)
{
    return ObjectID::createFromData(pictureBytes(seed), QStringLiteral("png"));
}

// Every identifier in the tree, pre-order.
QStringList identifiersIn(const IdeaPtr& root)
{
    QStringList identifiers;
    if (root)
        root->traverseNaturally([&](const IdeaPtr& idea, qint64) { identifiers.append(idea->identifier()); },
                                0);
    return identifiers;
}

// Attachments in memory, counting what they are asked; like every manager they answer in a
// later turn of the main queue.
class MemoryAttachments : public AttachmentManager
{
public:
    void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                         StoreCompletion completion) override
    {
        ++stores;
        if (!failStores)
            bytes.insert(attachment.asString(), data);
        completion(!failStores);
    }
    void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) override
    {
        ++provides;
        completion(bytes.value(attachment.asString()));
    }

    QHash<QString, QByteArray> bytes;
    int stores = 0;
    int provides = 0;
    bool failStores = false;
};

} // namespace

// Outside the anonymous namespace, like the test classes TEST_F derives from it: g++ warns
// about a base with internal linkage when this file shares a unity batch.
class PersistenceControllerIdeas : public ControllerTest
{
protected:
    bool storeAttachment(const ObjectID& attachment, const QByteArray& data, StorageLocation location)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().storeAttachment(
            attachment, data, location,
            expectCompletion<bool>(recorder, QStringLiteral("store"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    QByteArray fetchAttachment(const ObjectID& attachment, StorageLocation location)
    {
        CompletionRecorder recorder;
        QByteArray answer;
        controller().fetchAttachment(
            attachment, location,
            expectCompletion<const QByteArray&>(recorder, QStringLiteral("fetch"),
                                                [&](const QByteArray& data) { answer = data; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    // A temporary document whose idea "idb_1" carries attachment 1 and "idd_1" (its child)
    // attachment 2, both stored in the temporary location.
    std::shared_ptr<IdeaDocument> temporaryDocumentWithAttachments()
    {
        auto document = IdeaDocument::initWithFileName(QString(), kTemp);
        IdeaPtr root = smallTree(QStringLiteral("with pictures"));
        root->findIdeaInSubTreeWithIdentifier(QStringLiteral("idb_1"))->setAtt(attachmentFor(1));
        root->findIdeaInSubTreeWithIdentifier(QStringLiteral("idd_1"))->setAtt(attachmentFor(2));
        document->setIdea(root);
        const qint64 token = create(document);
        EXPECT_GT(token, 0);
        release(document, token);
        EXPECT_TRUE(storeAttachment(attachmentFor(1), pictureBytes(1), kTemp));
        EXPECT_TRUE(storeAttachment(attachmentFor(2), pictureBytes(2), kTemp));
        return document;
    }

    bool copyBefore(const IdeaPtr& idea, const QString& from, qint64 index, StorageLocation target)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().copyIdeaBefore(
            idea, from, index, target,
            expectCompletion<bool>(recorder, QStringLiteral("copy before"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    bool copyInside(const IdeaPtr& idea, const QString& from, qint64 index, StorageLocation target)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().copyIdeaInside(
            idea, from, index, target,
            expectCompletion<bool>(recorder, QStringLiteral("copy inside"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    bool moveBefore(const QString& idea, const QString& from, qint64 index, StorageLocation target)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().moveIdeaBefore(
            idea, from, index, target,
            expectCompletion<bool>(recorder, QStringLiteral("move before"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    bool moveInside(const QString& idea, const QString& from, qint64 index, StorageLocation target)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().moveIdeaInside(
            idea, from, index, target,
            expectCompletion<bool>(recorder, QStringLiteral("move inside"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    QString attachmentPathIn(StorageLocation location, const ObjectID& attachment)
    {
        if (location == kTemp)
            return TempLocationManager::attachmentURL(attachment).toLocalFile();
        return backEnd(location).attachmentsFolder() + QLatin1Char('/') + attachment.asString();
    }
};

TEST_F(PersistenceControllerIdeas, FetchIdeaGivesTheIdeaTheRootOrNothing)
{
    start(false, false);
    const QString identifier = storedTemporaryDocument(QStringLiteral("fetch me"))->docIdentifier();

    const IdeaPtr root = fetchIdea(QString(), identifier);
    ASSERT_TRUE(root != nullptr);
    EXPECT_EQ(root->text(), QStringLiteral("fetch me"));
    const IdeaPtr grandchild = fetchIdea(QStringLiteral("idd_1"), identifier);
    ASSERT_TRUE(grandchild != nullptr);
    EXPECT_EQ(grandchild->text(), QStringLiteral("grandchild"));
    EXPECT_EQ(fetchIdea(QStringLiteral("id_absent"), identifier), nullptr);
    // An empty identifier names no idea; only a null one means the root.
    EXPECT_EQ(fetchIdea(QStringLiteral(""), identifier), nullptr);
    EXPECT_EQ(fetchIdea(QString(), QStringLiteral("temp:/id404_1.crvx")), nullptr);
}

TEST_F(PersistenceControllerIdeas, CopyBeforeStoresAFreshCopyWithItsAttachmentsAsANewDocument)
{
    PersistenceController& controller = start(true, false);
    const QStringList existing = publishDocuments(kICloud, {QStringLiteral("existing")});
    auto source = temporaryDocumentWithAttachments();
    const IdeaPtr idea = fetchIdea(QStringLiteral("idb_1"), source->docIdentifier());
    ASSERT_TRUE(idea != nullptr);
    listener().events.clear();

    ASSERT_TRUE(copyBefore(idea, source->docIdentifier(), 0, kICloud));

    const auto list = controller.proxyListForLocation(kICloud);
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 2u);
    const QString copyIdentifier = list->front()->docIdentifier();
    EXPECT_EQ(list->back()->docIdentifier(), existing[0]);
    EXPECT_EQ(listener().events, QStringList{QStringLiteral("added %1 at 0").arg(copyIdentifier)});

    const IdeaPtr stored = backEnd(kICloud).storedTree(copyIdentifier);
    ASSERT_TRUE(stored != nullptr);
    EXPECT_EQ(stored->text(), QStringLiteral("second child"));
    EXPECT_EQ(childTexts(stored), QStringList{QStringLiteral("grandchild")});
    for (const QString& identifier : identifiersIn(stored))
        EXPECT_FALSE(identifiersIn(fetchRoot(source->docIdentifier())).contains(identifier))
            << "the copy kept identifier " << identifier.toStdString();
    EXPECT_EQ(stored->att(), attachmentFor(1));
    for (int seed : {1, 2}) {
        QFile file(attachmentPathIn(kICloud, attachmentFor(seed)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "attachment " << seed << " was not copied";
        EXPECT_EQ(file.readAll(), pictureBytes(seed));
    }
    // The copy is closed again and the source is untouched.
    EXPECT_EQ(controller.findDocument(copyIdentifier)->filePresenter(), nullptr);
    EXPECT_EQ(identifiersIn(fetchRoot(source->docIdentifier())),
              (QStringList{"idroot_1", "ida_1", "idb_1", "idd_1", "idc_1"}));
}

TEST_F(PersistenceControllerIdeas, CopyBeforeWithAMissingAttachmentStoresNoDocument)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {});
    auto source = storedTemporaryDocument(QStringLiteral("source"));
    IdeaPtr idea = Idea::initWithText(QStringLiteral("picture idea"));
    idea->setAtt(attachmentFor(9)); // never stored
    const int creates = backEnd(kICloud).callCount(Operation::Create);

    EXPECT_FALSE(copyBefore(idea, source->docIdentifier(), 0, kICloud));
    EXPECT_EQ(backEnd(kICloud).callCount(Operation::Create), creates);
    EXPECT_TRUE(controller.proxyListForLocation(kICloud)->empty());
}

TEST_F(PersistenceControllerIdeas, CopyInsideAddsAFreshCopyAsTheFirstChildOfTheTargetRoot)
{
    start(true, false);
    const QStringList documents =
        publishDocuments(kICloud, {QStringLiteral("first target"), QStringLiteral("second target")});
    IdeaPtr idea = Idea::initWithText(QStringLiteral("dropped in"));
    ASSERT_TRUE(idea->addIdea(Idea::initWithText(QStringLiteral("its child"))));
    listener().events.clear();

    ASSERT_TRUE(copyInside(idea, QStringLiteral("temp:/id1_1.crvx"), 1, kICloud));

    const IdeaPtr stored = backEnd(kICloud).storedTree(documents[1]);
    ASSERT_TRUE(stored != nullptr);
    EXPECT_EQ(childTexts(stored), (QStringList{"dropped in", "first child", "second child", "third child"}));
    EXPECT_NE(stored->ideas().front()->identifier(), idea->identifier());
    EXPECT_EQ(childTexts(stored->ideas().front()), QStringList{QStringLiteral("its child")});
    EXPECT_EQ(listener().events, QStringList{QStringLiteral("updated ") + documents[1]});
    EXPECT_EQ(childTexts(backEnd(kICloud).storedTree(documents[0])),
              (QStringList{"first child", "second child", "third child"}));
}

TEST_F(PersistenceControllerIdeas, CopyInsideRefusesIndexesOutsideTheListAndLocationsWithoutOne)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {QStringLiteral("a"), QStringLiteral("b")});
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("nowhere to go"));
    const int opens = backEnd(kICloud).callCount(Operation::Open);

    CompletionRecorder recorder;
    const auto refused = [&](const char* name) {
        return expectCompletion<bool>(recorder, QString::fromLatin1(name),
                                      [name](bool ok) { EXPECT_FALSE(ok) << name; });
    };
    const QString from = QStringLiteral("temp:/id1_1.crvx");
    controller.copyIdeaInside(idea, from, 2, kICloud, refused("index == count"));
    controller.copyIdeaInside(idea, from, -1, kICloud, refused("negative index"));
    controller.copyIdeaInside(idea, from, 0, kTemp, refused("location 0"));
    controller.copyIdeaInside(idea, from, 0, kDropbox, refused("no workspace"));
    controller.copyIdeaInside(nullptr, from, 0, kICloud, refused("no idea"));
    EXPECT_TRUE(recorder.waitAll()) << "a refusal was not answered";
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(backEnd(kICloud).callCount(Operation::Open), opens);
}

TEST_F(PersistenceControllerIdeas, AMoveDeletesTheSourceOnlyOnceTheTargetIsSaved)
{
    start(true, false);
    const QStringList documents =
        publishDocuments(kICloud, {QStringLiteral("source"), QStringLiteral("target")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    iCloud.setDelay(Operation::Update, 2.0);
    const int updates = iCloud.callCount(Operation::Update);

    CompletionRecorder recorder;
    bool moved = false;
    controller().moveIdeaInside(
        QStringLiteral("idb_1"), documents[0], 1, kICloud,
        expectCompletion<bool>(recorder, QStringLiteral("move"), [&](bool ok) { moved = ok; }));
    // The target's save is written; its answer is held back by the back end.
    ASSERT_TRUE(settle([&] {
        return childTexts(iCloud.storedTree(documents[1])).value(0) == QStringLiteral("second child");
    }));
    EXPECT_EQ(iCloud.callCount(Operation::Update), updates + 1);
    EXPECT_EQ(recorder.callCount(QStringLiteral("move")), 0);
    EXPECT_TRUE(listener().linesStartingWith(QStringLiteral("updated")).isEmpty());
    EXPECT_TRUE(identifiersIn(iCloud.storedTree(documents[0])).contains(QStringLiteral("idb_1")))
        << "the source was changed before the target's save answered";

    ASSERT_TRUE(advanceUntil([&] { return recorder.allCalled(); }));
    EXPECT_TRUE(moved);
    EXPECT_EQ(identifiersIn(iCloud.storedTree(documents[0])), (QStringList{"idroot_1", "ida_1", "idc_1"}));
    EXPECT_EQ(childTexts(iCloud.storedTree(documents[1])),
              (QStringList{"second child", "first child", "second child", "third child"}));
    EXPECT_EQ(
        listener().linesStartingWith(QStringLiteral("updated")),
        (QStringList{QStringLiteral("updated ") + documents[1], QStringLiteral("updated ") + documents[0]}));
}

TEST_F(PersistenceControllerIdeas, AMoveWhoseTargetCannotBeStoredKeepsTheSource)
{
    PersistenceController& controller = start(true, false);
    const QStringList documents =
        publishDocuments(kICloud, {QStringLiteral("source"), QStringLiteral("target")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    const QString sourceTree = dump(iCloud.storedTree(documents[0]));
    const QString targetTree = dump(iCloud.storedTree(documents[1]));
    const int deletes = iCloud.callCount(Operation::Delete);

    // Inside: the target's save fails. The target is open elsewhere meanwhile (an editor),
    // so its tree stays in memory.
    auto target = controller.findDocument(documents[1]);
    const qint64 editorToken = open(target);
    ASSERT_GT(editorToken, 0);
    iCloud.failNext(Operation::Update);
    const int updates = iCloud.callCount(Operation::Update);
    EXPECT_FALSE(moveInside(QStringLiteral("idb_1"), documents[0], 1, kICloud));
    EXPECT_EQ(iCloud.callCount(Operation::Update), updates + 1) << "the source was saved after all";
    EXPECT_EQ(dump(iCloud.storedTree(documents[0])), sourceTree);
    EXPECT_EQ(dump(iCloud.storedTree(documents[1])), targetTree);
    // The failed copy is not left in the open tree either, where the editor's next save would
    // store it after all.
    EXPECT_EQ(childTexts(target->idea()), (QStringList{"first child", "second child", "third child"}));
    EXPECT_TRUE(save(target, editorToken));
    EXPECT_EQ(childTexts(iCloud.storedTree(documents[1])),
              (QStringList{"first child", "second child", "third child"}));
    release(target, editorToken);

    // Before: the new document cannot be created.
    iCloud.failNext(Operation::Create);
    EXPECT_FALSE(moveBefore(QStringLiteral("idb_1"), documents[0], 0, kICloud));
    EXPECT_EQ(dump(iCloud.storedTree(documents[0])), sourceTree);
    EXPECT_EQ(identifiersOf(*controller.proxyListForLocation(kICloud)), documents);
    EXPECT_EQ(iCloud.callCount(Operation::Delete), deletes);
}

TEST_F(PersistenceControllerIdeas, MovingARootIntoItsOwnDocumentIsRefusedAndDeletesNothing)
{
    PersistenceController& controller = start(true, false);
    const QStringList documents = publishDocuments(kICloud, {QStringLiteral("own"), QStringLiteral("other")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    const QString before = dump(iCloud.storedTree(documents[0]));
    const int creates = iCloud.callCount(Operation::Create);
    const int updates = iCloud.callCount(Operation::Update);
    const int deletes = iCloud.callCount(Operation::Delete);
    listener().events.clear();

    EXPECT_FALSE(moveInside(QStringLiteral("idroot_1"), documents[0], 0, kICloud));
    EXPECT_EQ(iCloud.callCount(Operation::Create), creates);
    EXPECT_EQ(iCloud.callCount(Operation::Update), updates);
    EXPECT_EQ(iCloud.callCount(Operation::Delete), deletes);
    EXPECT_EQ(dump(iCloud.storedTree(documents[0])), before);
    EXPECT_EQ(identifiersOf(*controller.proxyListForLocation(kICloud)), documents);
    EXPECT_TRUE(listener().events.isEmpty()) << listener().events.join(QLatin1Char('\n')).toStdString();

    // A root into another document: copied there, then its own document goes.
    ASSERT_TRUE(moveInside(QStringLiteral("idroot_1"), documents[1], 0, kICloud));
    EXPECT_EQ(identifiersOf(*controller.proxyListForLocation(kICloud)), QStringList{documents[0]});
    EXPECT_EQ(childTexts(iCloud.storedTree(documents[0])),
              (QStringList{"other", "first child", "second child", "third child"}));

    // A child into its own document: the copy goes to the front and the original goes.
    ASSERT_TRUE(moveInside(QStringLiteral("idc_1"), documents[0], 0, kICloud));
    const IdeaPtr after = iCloud.storedTree(documents[0]);
    EXPECT_EQ(childTexts(after), (QStringList{"third child", "other", "first child", "second child"}));
    EXPECT_FALSE(identifiersIn(after).contains(QStringLiteral("idc_1")));
}

TEST_F(PersistenceControllerIdeas, MovingFromAnICloudDocumentItsListDoesNotKnowFailsWithoutReading)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {QStringLiteral("known")});
    const int opens = backEnd(kICloud).callCount(Operation::Open);

    CompletionRecorder recorder;
    controller.moveIdeaBefore(
        QStringLiteral("idb_1"), QStringLiteral("iCloud:/unknown.crvx"), 0, kICloud,
        expectCompletion<bool>(recorder, QStringLiteral("unknown"), [](bool ok) { EXPECT_FALSE(ok); }));
    controller.moveIdeaInside(
        QString(), QStringLiteral("iCloud:/doc2_1.crvx"), 0, kICloud,
        expectCompletion<bool>(recorder, QStringLiteral("no idea"), [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(backEnd(kICloud).callCount(Operation::Open), opens);
}

TEST_F(PersistenceControllerIdeas, DeleteIdeaRemovesASubtreeTheWholeDocumentOrNothing)
{
    PersistenceController& controller = start(true, false);
    auto document = storedTemporaryDocument(QStringLiteral("pruned"));
    const QString identifier = document->docIdentifier();

    EXPECT_TRUE(deleteIdea(QStringLiteral("idb_1"), identifier));
    EXPECT_EQ(identifiersIn(fetchRoot(identifier)), (QStringList{"idroot_1", "ida_1", "idc_1"}));
    EXPECT_EQ(document->filePresenter(), nullptr) << "the document was left open";

    // Not in the tree: NO, and the document is closed again.
    EXPECT_FALSE(deleteIdea(QStringLiteral("idb_1"), identifier));
    EXPECT_EQ(document->filePresenter(), nullptr);
    EXPECT_EQ(identifiersIn(fetchRoot(identifier)), (QStringList{"idroot_1", "ida_1", "idc_1"}));

    // The root: the whole document.
    EXPECT_TRUE(deleteIdea(QStringLiteral("idroot_1"), identifier));
    EXPECT_FALSE(controller.documentKnown(identifier));

    // No idea: the whole document too.
    auto other = storedTemporaryDocument(QStringLiteral("whole"));
    EXPECT_TRUE(deleteIdea(QString(), other->docIdentifier()));
    EXPECT_FALSE(controller.documentKnown(other->docIdentifier()));

    // A cloud document loses its root: it leaves the list and its folder.
    const QStringList documents = publishDocuments(kICloud, {QStringLiteral("cloud")});
    listener().events.clear();
    EXPECT_TRUE(deleteIdea(QStringLiteral("idroot_1"), documents[0]));
    EXPECT_EQ(listener().events, QStringList{QStringLiteral("deleted ") + documents[0]});
    EXPECT_TRUE(backEnd(kICloud).storedDocuments().isEmpty());

    // An unlisted cloud document has no handle: NO.
    EXPECT_FALSE(deleteIdea(QStringLiteral("idb_1"), QStringLiteral("iCloud:/unlisted.crvx")));
}

TEST_F(PersistenceControllerIdeas, ConsumeIdeaDeletesTheSourceOnlyWhenTheChainSaysYes)
{
    start(false, false);
    const QString identifier = storedTemporaryDocument(QStringLiteral("consumed"))->docIdentifier();
    QStringList handed;

    {
        CompletionRecorder recorder;
        controller().consumeIdea(
            QStringLiteral("idc_1"), identifier,
            [&](const IdeaPtr& idea, PersistenceController::NextBlock next) {
                handed.append(idea->text());
                next(false);
            },
            expectCompletion<bool>(recorder, QStringLiteral("refused"), [](bool ok) { EXPECT_FALSE(ok); }));
        EXPECT_TRUE(recorder.waitAll());
    }
    EXPECT_TRUE(identifiersIn(fetchRoot(identifier)).contains(QStringLiteral("idc_1")));

    {
        // A chain that answers twice is heard once (the recorder fails a second completion).
        CompletionRecorder recorder;
        LogCapture log;
        controller().consumeIdea(
            QStringLiteral("idc_1"), identifier,
            [&](const IdeaPtr& idea, PersistenceController::NextBlock next) {
                handed.append(idea->text());
                next(true);
                next(true);
            },
            expectCompletion<bool>(recorder, QStringLiteral("accepted"), [](bool ok) { EXPECT_TRUE(ok); }));
        EXPECT_TRUE(recorder.waitAll());
        EXPECT_EQ(log.count(QStringLiteral("answered twice")), 1);
    }
    EXPECT_FALSE(identifiersIn(fetchRoot(identifier)).contains(QStringLiteral("idc_1")));
    EXPECT_EQ(handed, (QStringList{"third child", "third child"}));

    // An idea that is not there never reaches the chain.
    CompletionRecorder recorder;
    controller().consumeIdea(
        QStringLiteral("idc_1"), identifier,
        [&](const IdeaPtr&, PersistenceController::NextBlock next) {
            ADD_FAILURE() << "the chain was called for a missing idea";
            next(true);
        },
        expectCompletion<bool>(recorder, QStringLiteral("missing"), [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
}

// ---- Attachments between locations

TEST_F(PersistenceControllerIdeas, AttachmentsAreStoredAndFetchedPerLocation)
{
    start(true, false);
    const ObjectID attachment = attachmentFor(5);
    EXPECT_TRUE(storeAttachment(attachment, pictureBytes(5), kTemp));
    EXPECT_EQ(fetchAttachment(attachment, kTemp), pictureBytes(5));
    EXPECT_TRUE(fetchAttachment(attachment, kICloud).isNull());

    EXPECT_TRUE(storeAttachment(attachment, pictureBytes(5), kICloud));
    EXPECT_TRUE(QFileInfo::exists(attachmentPathIn(kICloud, attachment)));
    EXPECT_EQ(fetchAttachment(attachment, kICloud), pictureBytes(5));

    // Locations without a manager.
    EXPECT_FALSE(storeAttachment(attachment, pictureBytes(5), kDropbox));
    EXPECT_FALSE(storeAttachment(attachment, pictureBytes(5), kLocalFile));
    EXPECT_TRUE(fetchAttachment(attachment, kLocalFile).isNull());

    // Documents fetch their attachments from their own location through the controller.
    auto cloudDocument = IdeaDocument::initWithIdentifier(QStringLiteral("iCloud:/doc2_9.crvx"));
    CompletionRecorder recorder;
    QByteArray fetched;
    cloudDocument->fetchAttachment(attachment,
                                   expectCompletion<QByteArray>(recorder, QStringLiteral("document fetch"),
                                                                [&](QByteArray data) { fetched = data; }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(fetched, pictureBytes(5));
}

TEST_F(PersistenceControllerIdeas, CopyingAttachmentsBetweenLocations)
{
    PersistenceController& controller = start(true, false);
    auto source = temporaryDocumentWithAttachments();
    const IdeaPtr root = fetchRoot(source->docIdentifier());
    ASSERT_TRUE(root != nullptr);

    CompletionRecorder recorder;
    // Same location: YES, nothing copied.
    controller.copyAttachments(
        root, source->docIdentifier(), kTemp,
        expectCompletion<bool>(recorder, QStringLiteral("same"), [](bool ok) { EXPECT_TRUE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("same")), 1);
    // No manager on the target side: NO.
    controller.copyAttachments(
        root, source->docIdentifier(), kDropbox,
        expectCompletion<bool>(recorder, QStringLiteral("no target"), [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("no target")), 1);
    // Into iCloud: both attachments of the tree.
    controller.copyAttachments(
        root, source->docIdentifier(), kICloud,
        expectCompletion<bool>(recorder, QStringLiteral("copied"), [](bool ok) { EXPECT_TRUE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    for (int seed : {1, 2})
        EXPECT_TRUE(QFileInfo::exists(attachmentPathIn(kICloud, attachmentFor(seed)))) << seed;
}

TEST_F(PersistenceControllerIdeas, CopyingASetOfAttachmentsStopsAtTheFirstFailure)
{
    start(false, false);
    auto from = std::make_shared<MemoryAttachments>();
    auto into = std::make_shared<MemoryAttachments>();

    CompletionRecorder recorder;
    // An empty set answers YES without asking either side.
    PersistenceController::copyAttachments(
        {}, from, into,
        expectCompletion<bool>(recorder, QStringLiteral("empty"), [](bool ok) { EXPECT_TRUE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("empty")), 1);
    EXPECT_EQ(from->provides + from->stores + into->provides + into->stores, 0);

    // One attachment of three is missing at the source: NO, after at most the others.
    from->bytes.insert(attachmentFor(1).asString(), pictureBytes(1));
    from->bytes.insert(attachmentFor(2).asString(), pictureBytes(2));
    PersistenceController::copyAttachments(
        {attachmentFor(1), attachmentFor(2), attachmentFor(3)}, from, into,
        expectCompletion<bool>(recorder, QStringLiteral("missing"), [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_LE(from->provides, 3);
    EXPECT_LE(into->stores, 2);
    for (auto it = into->bytes.cbegin(); it != into->bytes.cend(); ++it)
        EXPECT_EQ(it.value(), from->bytes.value(it.key())) << "a copied attachment differs";

    // A refused store ends the copy too.
    into->failStores = true;
    into->stores = 0;
    PersistenceController::copyAttachments(
        {attachmentFor(1), attachmentFor(2)}, from, into,
        expectCompletion<bool>(recorder, QStringLiteral("refused"), [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(into->stores, 1);
}

TEST_F(PersistenceControllerIdeas, ALongRunOfAttachmentsIsCopiedWithoutDeepeningTheStack)
{
    start(false, false);
    auto from = std::make_shared<MemoryAttachments>();
    auto into = std::make_shared<MemoryAttachments>();
    QSet<ObjectID> attachments;
    const int count = heavyScale(50'000, 20'000);
    for (int i = 0; i < count; ++i) {
        const ObjectID attachment = ObjectID::createFromData(QByteArray::number(i), QStringLiteral("bin"));
        attachments.insert(attachment);
        from->bytes.insert(attachment.asString(), QByteArray::number(i));
    }
    CompletionRecorder recorder;
    PersistenceController::copyAttachments(
        attachments, from, into,
        expectCompletion<bool>(recorder, QStringLiteral("copy"), [](bool ok) { EXPECT_TRUE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("copy")), 1);
    EXPECT_EQ(into->bytes.size(), count);
}

TEST_F(PersistenceControllerIdeas, TheEditingServiceTellsAMoveWhoseSourceKeptTheIdeaAsCopied)
{
    start(true, false);
    const QStringList documents =
        publishDocuments(kICloud, {QStringLiteral("source"), QStringLiteral("target")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    IdeaEditingService service({}, {});
    using Place = IdeaEditingService::StoredPlace;
    struct Case
    {
        QString name;
        bool sourceSaveFails;
        QString idea;
        Place place;
        qint64 index;
        IdeaEditOutcome outcome;
    };
    const Case cases[] = {
        {QStringLiteral("root into itself"), false, QStringLiteral("idroot_1"), Place::Inside, 0,
         IdeaEditOutcome::Refused},
        {QStringLiteral("moved"), false, QStringLiteral("ida_1"), Place::Inside, 1, IdeaEditOutcome::Moved},
        // The copy is a new document; the source's save, which would drop the idea, fails.
        {QStringLiteral("kept"), true, QStringLiteral("idb_1"), Place::Before, 0, IdeaEditOutcome::Copied},
    };
    for (const Case& c : cases) {
        if (c.sourceSaveFails)
            iCloud.failNext(Operation::Update);
        CompletionRecorder recorder;
        service.moveStoredIdea(
            c.idea, documents[0], kICloud, c.index, c.place,
            expectCompletion<const IdeaEditResult&>(recorder, c.name, [&c](const IdeaEditResult& result) {
                EXPECT_EQ(result.outcome, c.outcome) << c.name.toStdString();
            }));
        EXPECT_TRUE(recorder.waitAll()) << c.name.toStdString();
        EXPECT_TRUE(recorder.verify());
    }
    EXPECT_TRUE(identifiersIn(iCloud.storedTree(documents[0])).contains(QStringLiteral("idb_1")));
    EXPECT_FALSE(identifiersIn(iCloud.storedTree(documents[0])).contains(QStringLiteral("ida_1")));
}
